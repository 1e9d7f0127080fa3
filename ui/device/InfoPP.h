// CInfoPP: the property page "Info": the device maker's contact texts, written into the dialog.
// It reads no parameters; its own work is the choice of fonts, which the page owns and frees.
#pragma once

#include <string>

#include "platform/platform.h"
#include "ui/framework/PropertyPage.h"

class CInfoPP : public CovFDT_PropertyPageImpl {
 public:
  CInfoPP();
  ~CInfoPP() override;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);
  bool LoadPageString(UINT id, std::u16string* text) override;

  // The three fonts on their texts, then the base's start.
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;

  // The fonts, for tests: heading, plain text, bold text (null before InitializeUI).
  HFONT HeadingFont() const { return m_hFontHeading; }
  HFONT TextFont() const { return m_hFontText; }
  HFONT BoldFont() const { return m_hFontBold; }

 private:
  void FreeFonts();

  HFONT m_hFontHeading = nullptr;  // A: Tahoma 15, weight 600
  HFONT m_hFontText = nullptr;     // B: Tahoma 14, normal
  HFONT m_hFontBold = nullptr;     // C: Tahoma 14, weight 600
};
