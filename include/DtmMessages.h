// The numbers the parts of the DTM talk in: the jobs of the DTM thread, the DTM messages that user
// interfaces, the DTM thread and workers send to the DTM, and the broadcasts the DTM sends to its
// open user interfaces. They travel as VARIANTs (VT_UI4 and the like) and are kept as numbered, so
// every place that sends or dispatches one names it from here.
#pragma once

#include "platform/platform.h"

// Jobs of the DTM thread (IovFdtDtmThread::Execute and ExecuteAsync).
enum DtmThreadJob : ULONG {
  kJobTakeDtm = 1,                  // the DTM's IovFdtBaseDTM from an interface argument
  kJobTakeFrame = 2,                // the frame's container from an interface argument
  kJobUpload = 3,                   // an upload request (SOnlineParamData), queued
  kJobDownload = 4,                 // a download request, queued
  kJobCancel = 5,                   // cancel the request with this invoke id
  kJobAddCyclicRead = 6,            // register a cyclic read (SParamUpdateInfo)
  kJobRemoveCyclicRead = 7,         // unregister one
  kJobChangeCyclicRead = 8,         // lower its interval
  kJobResponse = 9,                 // a cyclic read completed (parameter id)
  kJobGoOnline = 10,                // argument: an event to set when done
  kJobGoOffline = 11,
  kJobFunctionsChanged = 12,        // refresh the function list and announce a change
  kJobScanRequest = 13,             // frame events: scan request
  kJobPreparedToRelease = 14,       // frame events: prepared to release
  kJobReleaseCommunication = 15,    // wait for state 9, then frame events: prepared to release communication
  kJobParameterChanged = 16,        // frame events: parameter changed (text)
  kJobShowError = 17,               // frame events: error message (text)
  kJobChannelFunctionChanged = 18,  // frame events: channel function changed (text)
  kJobNavigation = 19,              // frame events: navigation (text)
  kJobNothing = 20,
  kJobOnlineState = 21,             // frame events: online state (non-zero: online)
  kJobApplicationClosed = 22,       // frame events: application closed (invoke id)
  kJobUnused = 23,
  kJobItemListRequest = 24,         // single device data access, served by the DTM's IovSdaHandler
  kJobReadRequest = 25,
  kJobWriteRequest = 26,
  kJobCancelRequest = 27,           // at once, not posted
  kJobInitializedReached = 28,      // 28 to 32: DTM message 64 to 68 (the job number + 36)
  kJobConfiguredReached = 29,
  kJobCommunicationSetReached = 30,
  kJobOnlineReached = 31,
  kJobPreparedToDeleteReached = 32,
  kJobStateEvent = 33,              // the frame's state-event interface (text)
  kJobSetDtm = 34,                  // {event, interface or empty}: the DTM, the event set when taken
  kJobSetFrame = 35,                // the same for the frame's container
};
// The DTM message a state-reached job sends.
inline constexpr ULONG kStateReachedJobToMessage = 36;

// DTM messages (IovFdtDtmEvents::DtmMessage ids).
enum DtmMessageId : ULONG {
  kMsgAxInitialized = 1,           // a user interface finished its initialisation
  kMsgAxReleased = 2,              // a user interface closed
  kMsgUpdateRateChanged = 3,       // a user interface changed its cyclic reads
  kMsgLockDtm = 4,
  kMsgResponse = 9,                // a device value arrived (DTM-thread job 9)
  kMsgGoOnline = 10,               // the device class: DTM-thread job 10
  kMsgGoOffline = 11,              // the device class: DTM-thread job 11
  kMsgErrorMessage = 16,           // text for OnError
  kMsgApplicationClosed = 17,
  kMsgProgress = 18,               // a packed SProgressEvent
  kMsgChannelFunctionChanged = 19,
  kMsgUpDownload = 48,             // a transfer starts or ends (flag)
  kMsgUpload = 49,                 // upload with this invoke id
  kMsgDownload = 50,
  kMsgRefreshOnlineCache = 51,
  kMsgSwitchAuditTrail = 52,
  kMsgUploadDeviceParams = 53,
  kMsgInitialized = 64,            // state reached: 7
  kMsgConfigured = 65,             // 8
  kMsgCommunicationSet = 66,       // 9
  kMsgOnline = 67,                 // 12
  kMsgPreparedToDelete = 68,       // 2
  kMsgReportText = 10004,          // text reported with OnError, never used as a format
  kMsgProgressMessage = 10005,     // {percent, text, mode}
  kMsgSubscribe = 10008,
  kMsgUnsubscribe = 10009,
  kMsgIgnored = 10014,
  kMsgDelaySave = 0x10017,         // begin (true) or end a delayed save request
};

// Broadcasts to the open user interfaces (0x2700 to 0x271E).
enum DtmBroadcastId : ULONG {
  kBroadcastLanguage = 0x2700,          // the language (LCID)
  kBroadcastValueChanged = 0x2701,      // a value changed in the data set
  kBroadcastUserLevel = 0x2704,
  kBroadcastDataSetLoaded = 0x2707,
  kBroadcastSchemaPath = 0x2708,        // the frame's schema directory
  kBroadcastLockState = 0x2709,         // whether the DTM holds the data-set lock
  kBroadcastStatusChanged = 0x270A,     // a parameter's flag word changed
  kBroadcastTranslationFile = 0x270B,
  kBroadcastStartupText = 0x270C,
  kBroadcastDeviceValue = 0x270D,       // a value arrived from the device
  kBroadcastPrivateDialog = 0x270E,
  kBroadcastDataSetState = 0x270F,
  kBroadcastEnumerationChanged = 0x2712,
  kBroadcastStateReached = 0x2713,      // the DTM message reached (64 to 68)
  kBroadcastRefreshParameter = 0x271A,  // refresh one parameter (id)
  kBroadcastRelationKind10 = 0x271B,
  kBroadcastUploadDone = 0x271C,        // upload finished (success flag)
  kBroadcastDownloadDone = 0x271D,      // download finished (success flag)
  // A device read or write failed: {parameter id (VT_UI4), the error text (VT_BSTR), the
  // failure's number (VT_UI4)}.
  kBroadcastDeviceAccessFailed = 0x271E,
};
