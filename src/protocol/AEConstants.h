// The codes of the control protocol between the manager (and pellmerectl) and the agent:
// descriptor types, keywords, the event class with its 25 event ids, the property keywords
// of the setters, and the error numbers the agent answers with.
//
// Constants only; any thread.
#pragma once

#include "protocol/FourCharCode.h"

namespace protocol {

// Descriptor types.
inline constexpr DescType typeNull = fourCharCode("null");
inline constexpr DescType typeAEList = fourCharCode("list");
inline constexpr DescType typeAERecord = fourCharCode("reco");
inline constexpr DescType typeAppleEvent = fourCharCode("aevt");
inline constexpr DescType typeTrue = fourCharCode("true");
inline constexpr DescType typeFalse = fourCharCode("fals");
inline constexpr DescType typeBoolean = fourCharCode("bool");
inline constexpr DescType typeSInt32 = fourCharCode("long");
inline constexpr DescType typeSInt64 = fourCharCode("comp");
inline constexpr DescType typeUTF8Text = fourCharCode("utf8");
inline constexpr DescType typeChar = fourCharCode("TEXT");
inline constexpr DescType typeFileURL = fourCharCode("furl");
inline constexpr DescType typeProcessSerialNumber = fourCharCode("psn ");
inline constexpr DescType typeObjectSpecifier = fourCharCode("obj ");
inline constexpr DescType typeType = fourCharCode("type");
inline constexpr DescType typeEnumerated = fourCharCode("enum");
inline constexpr DescType typeStatus = fourCharCode("STAT");

// Keywords of events and replies.
inline constexpr AEKeyword keyDirectObject = fourCharCode("----");
inline constexpr AEKeyword keyErrorNumber = fourCharCode("errn");
inline constexpr AEKeyword keyErrorString = fourCharCode("errs");
inline constexpr AEKeyword keyAddressAttr = fourCharCode("addr");
inline constexpr AEKeyword keyStatus = fourCharCode("STAT");

// Object specifier parts (class, key form, key data, container) and the property form.
inline constexpr AEKeyword keyAEDesiredClass = fourCharCode("want");
inline constexpr AEKeyword keyAEKeyForm = fourCharCode("form");
inline constexpr AEKeyword keyAEKeyData = fourCharCode("seld");
inline constexpr AEKeyword keyAEContainer = fourCharCode("from");
inline constexpr DescType cProperty = fourCharCode("prop");
inline constexpr DescType formPropertyID = fourCharCode("prop");

// A reply is an event of this class and id.
inline constexpr AEEventClass kCoreEventClass = fourCharCode("aevt");
inline constexpr AEEventID kAEAnswer = fourCharCode("ansr");

// The control protocol's event class and ids.
inline constexpr AEEventClass kPMEventClass = fourCharCode("mdSY");
inline constexpr AEEventID kPMQueryID = fourCharCode("QURY");
inline constexpr AEEventID kPMGetSyncListID = fourCharCode("GETL");
inline constexpr AEEventID kPMSetSyncListID = fourCharCode("SETL");
inline constexpr AEEventID kPMGetContinuousSyncStateID = fourCharCode("GCSS");
inline constexpr AEEventID kPMSetContinuousSyncStateID = fourCharCode("SCSS");
inline constexpr AEEventID kPMGetSyncMoviesStateID = fourCharCode("GSMS");
inline constexpr AEEventID kPMSetSyncMoviesStateID = fourCharCode("SSMS");
inline constexpr AEEventID kPMGetSyncMusicStateID = fourCharCode("GSSS");
inline constexpr AEEventID kPMSetSyncMusicStateID = fourCharCode("SSSS");
inline constexpr AEEventID kPMGetSyncPicturesStateID = fourCharCode("GSPS");
inline constexpr AEEventID kPMSetSyncPicturesStateID = fourCharCode("SSPS");
inline constexpr AEEventID kPMGetSyncDocumentsStateID = fourCharCode("GSDS");
inline constexpr AEEventID kPMSetSyncDocumentsStateID = fourCharCode("SSDS");
inline constexpr AEEventID kPMGetSyncDeviceFilterID = fourCharCode("GSDF");
inline constexpr AEEventID kPMSetSyncDeviceFilterID = fourCharCode("SSDF");
inline constexpr AEEventID kPMGetParticipateSyncStateID = fourCharCode("GPSS");
inline constexpr AEEventID kPMSetParticipateSyncStateID = fourCharCode("SPSS");
inline constexpr AEEventID kPMIsDriveHFSPlusID = fourCharCode("DHFS");
inline constexpr AEEventID kPMGetQuietSyncStateID = fourCharCode("GQSS");
inline constexpr AEEventID kPMSetQuietSyncStateID = fourCharCode("SQSS");
inline constexpr AEEventID kPMStartID = fourCharCode("DOIT");
inline constexpr AEEventID kPMCancelID = fourCharCode("STOP");
inline constexpr AEEventID kPMStatusID = fourCharCode("INFO");
inline constexpr AEEventID kPMRemoveSyncID = fourCharCode("REMV");
// The network storage devices the agent found, with their shares; no direct object.
inline constexpr AEEventID kPMListSharesID = fourCharCode("SHRS");

// The records of the shares reply: a 'list' of device records, each with a name, an
// address, a model and a 'list' of share records (a name, and the mount path when mapped).
inline constexpr AEKeyword kPMShareNameKey = fourCharCode("pnam");
inline constexpr AEKeyword kPMShareAddressKey = fourCharCode("addr");
inline constexpr AEKeyword kPMShareModelKey = fourCharCode("modl");
inline constexpr AEKeyword kPMShareListKey = fourCharCode("shrs");
inline constexpr AEKeyword kPMShareMountPathKey = fourCharCode("mntp");

// Property keywords carried by the setters.
inline constexpr AEKeyword kPMSyncItemsProperty = fourCharCode("ITMZ");
inline constexpr AEKeyword kPMContinuousSyncStateProperty = fourCharCode("CSSP");
inline constexpr AEKeyword kKRTSyncMoviesStateProperty = fourCharCode("SMSP");
inline constexpr AEKeyword kKRTSyncMusicStateProperty = fourCharCode("SSSP");
inline constexpr AEKeyword kKRTSyncPicturesStateProperty = fourCharCode("SPSP");
inline constexpr AEKeyword kKRTSyncDocumentsStateProperty = fourCharCode("SDSP");
inline constexpr AEKeyword kKRTSyncDeviceFilterProperty = fourCharCode("SDFP");
inline constexpr AEKeyword kPMParticipateSyncStateProperty = fourCharCode("PSSP");
inline constexpr AEKeyword kPMQuietSyncStateProperty = fourCharCode("QSSP");

// Error numbers answered in 'errn' or returned by a send.
inline constexpr qint32 kNoErr = 0;
inline constexpr qint32 kFBsyErr = -47; // the drive is busy: a sync of it is already running
inline constexpr qint32 kParamErr = -50; // a missing or malformed parameter
inline constexpr qint32 kBadVolumeFormatErr = -123; // the drive does not qualify for sync
inline constexpr qint32 kProcNotFound = -600; // no agent owns the bus name
inline constexpr qint32 kConnectionInvalid = -609; // no session bus, or the bus failed the call
inline constexpr qint32 kErrAECoercionFail = -1700;
inline constexpr qint32 kErrAENotAEDesc = -1704; // bytes that are not a flattened event
inline constexpr qint32 kErrAEEventNotHandled = -1708; // no handler for this class and id
inline constexpr qint32 kErrAETimeout = -1712; // the agent did not answer in time

} // namespace protocol
