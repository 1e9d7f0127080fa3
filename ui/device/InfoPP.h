// CInfoPP: the property page "Info": the device maker's contact texts, written into the dialog.
// It reads no parameters; its own work is the choice of fonts, which the page owns and frees.
#pragma once

#include <string>

#include "platform/platform.h"
#include "ui/device/kit/PageResources.h"
#include "ui/framework/PropertyPage.h"

class CInfoPP : public CovFDT_PropertyPageImpl {
 public:
  CInfoPP();

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The three fonts on their texts, then the base's start.
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;

  // The fonts, for tests: heading, plain text, bold text (null before InitializeUI).
  HFONT HeadingFont() const { return m_fontHeading.Get(); }
  HFONT TextFont() const { return m_fontText.Get(); }
  HFONT BoldFont() const { return m_fontBold.Get(); }

 private:
  vkr::dui::COwnedFont m_fontHeading;  // A: Tahoma 15, weight 600
  vkr::dui::COwnedFont m_fontText;     // B: Tahoma 14, normal
  vkr::dui::COwnedFont m_fontBold;     // C: Tahoma 14, weight 600
};
