// FrameProject: the stand-in frame's project of several DTM instances, each under its own system
// tag with a container of its own. It is the frame's topology, through which one DTM reaches
// another (IFdtTopology, which each container of the project answers: the partner of a
// comparison), and it sends the frame's events to a DTM (IFdtEvents): another DTM's changed
// parameters, and the data set locked and unlocked by the frame for another party.
//
// Everything runs on the calling thread, which must be in an apartment.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "frame/FrameContainer.h"
#include "include/FdtInterfaces.h"
#include "platform/platform.h"

namespace vkr::frame {

class FrameProject {
 public:
  FrameProject() = default;
  FrameProject(const FrameProject&) = delete;
  FrameProject& operator=(const FrameProject&) = delete;
  // Releases the DTMs it opened (Close) and leaves the containers of the others.
  ~FrameProject();

  // Creates the DTM of the ProgID under the tag and takes it to state 8 (configured) with its own
  // container: the data set from the project file (a Windows path) when it exists, else a new one
  // of the frame's device type. E_INVALIDARG for a tag already in the project.
  HRESULT Open(const std::u16string& tag, LPCOLESTR progId, const std::string& projectPath);
  // Takes a DTM another part of the frame made into the project; its container answers the
  // topology from now on. E_INVALIDARG for a tag already in the project or a null DTM or container.
  HRESULT Add(const std::u16string& tag, IUnknown* dtm, FrameContainer* container);
  // Releases every DTM the project opened (PrepareToDelete, PrepareToRelease) and lets go of the
  // others. The first failure.
  HRESULT Close();

  IUnknown* Dtm(const std::u16string& tag) const;
  FrameContainer* Container(const std::u16string& tag) const;

  // The topology: the DTM of a tag, counted as handed out (S_FALSE and null for a tag that is not
  // in the project), and its return (*released FALSE when it was not handed out).
  HRESULT GetDtmForSystemTag(BSTR tag, IUnknown** dtm);
  HRESULT ReleaseDtmForSystemTag(BSTR tag, VARIANT_BOOL* released);

  // The frame's events to the DTM of `to`: the parameter-changed document of the DTM of `from`.
  HRESULT SendParameterChanged(const std::u16string& to, const std::u16string& from, BSTR document);
  // The data set of the tag's DTM locked for another party, and unlocked (*done as the DTM says).
  HRESULT LockDataSet(const std::u16string& tag);
  HRESULT UnlockDataSet(const std::u16string& tag, bool* done);

  // Whether the last Open failed because the project file's data set could not be loaded.
  bool dataSetRefused = false;
  // The user level the frame gives the DTMs it opens.
  std::u16string userLevel = u"planningEngineer";
  // What the project did: "get B", "get X: none", "release B", "release B: not handed out",
  // "parameter changed A -> B: 0x00000000", "locked B", "unlocked B".
  std::vector<std::string> notes;

 private:
  struct Member {
    ComPtr<IUnknown> dtm;
    ComPtr<ComObject<FrameContainer>> ownContainer;  // set for the DTMs the project opened
    FrameContainer* container = nullptr;
    int handedOut = 0;
  };
  Member* Find(const std::u16string& tag);
  const Member* Find(const std::u16string& tag) const;
  template <class Q>
  ComPtr<Q> Query(const std::u16string& tag);

  std::map<std::u16string, Member> m_members;
};

// The host's partner comparison: opens the two projects (Windows paths of saved data sets) in one
// frame project and lets the first DTM compare its data set with the second's (IDtmDiagnosis
// InitCompare, Compare, ReleaseCompare). S_OK with *equal and, when given, *differences: the
// DTM's texts that name each parameter that differs; a failure with *why in words.
HRESULT ComparePartnerProjects(const std::string& project, const std::string& partner, bool* equal, std::string* why,
                               std::vector<std::string>* differences = nullptr);
// The command "compare --with PARTNER": prints the outcome, or says why on stderr. Exit status 0
// done, 1 failed.
int ComparePartner(const std::string& project, const std::string& partner);

}  // namespace vkr::frame
