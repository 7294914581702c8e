#pragma once
// The names the binding looks up in each host library, in lookup order. Each library's table of
// entry points has one slot per name, empty where the library lacks it.
#include <array>
#include <cstddef>
#include <string_view>

namespace skelder::host {

inline constexpr std::array<const char*, 76> kCoreFunctionNames = {
    "XRDVcsBeginAction", "XRDVcsEndAction", "XRDVcsErrorString", "XRDVcsGetAddinInfo",
    "XRDVcsGetObjectNotes", "XRDVcsSetObjectNotes", "XRDVcsLock", "XRDVcsAddConnection",
    "XRDVcsUpdateConnection", "XRDVcsDeleteConnection", "XRDVcsEnumConnections", "XRDVcsCurrentConnection",
    "XRDVcsConnect", "XRDVcsDisconnect", "XRDVcsEnumProjects", "XRDVcsEnumFolders", "XRDVcsEnumFiles",
    "XRDVcsEnumLockedFiles", "XRDVcsEnumViews", "XRDVcsSetView", "XRDVcsFileStatus", "XRDVcsGetFileID",
    "XRDVcsGetFileIDExt", "XRDVcsGetFileWorkingPath", "XRDVcsGetFileCheckoutPath", "XRDVcsGetFileGroupExt",
    "XRDVcsGetFileGroupExtensions", "XRDVcsEnumRevisions", "XRDVcsEnumLabels", "XRDVcsAddProject",
    "XRDVcsRenameProject", "XRDVcsDeleteProject", "XRDVcsAddFolder", "XRDVcsGetFolderInfo",
    "XRDVcsGetFolderPermissions", "XRDVcsRenameFolder", "XRDVcsDeleteFolder", "XRDVcsDeleteFile",
    "XRDVcsRemoveObject", "XRDVcsAddVersionLabel", "XRDVcsAddVersionLabelEx", "XRDVcsDeleteVersionLabel",
    "XRDVcsModifyVersionLabel", "XRDVcsAttachVersionLabel", "XRDVcsAttachVersionLabelByTimestamp",
    "XRDVcsAttachVersionLabelEx", "XRDVcsDetachVersionLabel", "XRDVcsPromote", "XRDVcsNextPromotionLabel",
    "XRDVcsCheckInFile", "XRDVcsCheckInFileEx", "XRDVcsCheckOutFile", "XRDVcsCheckOutFileEx",
    "XRDVcsCheckOutFiles", "XRDVcsSetMergeInfo", "XRDVcsGetCommonRoot", "XRDVcsGetBranchInfo",
    "XRDVcsUncheckOutFile", "XRDVcsPasswordRequiredForModification", "XRDVcsValidUser", "XRDVcsShareFile",
    "XRDVcsUnshareFile", "XRDVcsInvalidateCache", "XRDVcsMoveFile", "XRDVcsBeginExport",
    "XRDVcsGetExportProgress", "XRDVcsGetExportResult", "XRDVcsGetExportSize", "XRDVcsGetExportData",
    "XRDVcsEndExport", "XRDVcsBeginImport", "XRDVcsSetImportData", "XRDVcsDoImport",
    "XRDVcsGetImportProgress", "XRDVcsGetImportResult", "XRDVcsEndImport"
};

inline constexpr std::array<const char*, 121> kMainFunctionNames = {
    "XRVcsInitialize", "XRVcsAutoUpdateCache", "XRBrowseFolder", "XRVcsIsFileArchived", "XRVcsGetFileList",
    "XRVcsGetFileListForFolders", "XRVcsCurrentUserName", "XRVcsCreateProject", "XRVcsSelectProject",
    "XRVcsCurrentConnection", "XRVcsFileMainExtension", "XRVcsProjectIDByName", "XRVcsGetFileStatus",
    "XRVcsGetFileStatusEx", "XRVcsGetObjectType", "XRVcsHaveLock", "XRVcsCheckInFiles", "XRVcsLockFile",
    "XRVcsGetCheckOutInfo", "XRVcsGetCheckOutInfoEx", "XRVcsGetCheckInInfo", "XRVcsGetCheckInInfoEx",
    "XRVcsCheckOutFiles", "XRVcsCheckOutFilesEx", "XRVcsCheckInFilesEx", "XRVcsUndoCheckOutFiles",
    "XRVcsRemoveFiles", "XRVcsRenameFile", "XRVcsShowProperties", "XRVcsShowWorkfileDifferences",
    "XRVcsShowHistory", "XRVcsGetFileID", "XRVcsGetViewBaseID", "XRVcsAbout", "XRVcsRefreshCache",
    "XRVcsGetViews", "XRVcsSelectView", "XRVcsSelectConnection", "XRVcsMergeGroups",
    "XRVcsSelectConnectionEx", "XRVcsShowConnectionInfo", "XRVcsLogin", "XRGetObjectVersions",
    "XRVcsErrorString", "XRVcsFolderIDByDisplayPath", "XRVcsRelease", "XRDVcsConnect", "XRDVcsErrorString",
    "XRDVcsBeginAction", "XRDVcsEndAction", "XRDVcsCurrentConnection", "XRDVcsAddConnection",
    "XRDVcsUpdateConnection", "XRDVcsGetFolderInfo", "XRDVcsDeleteConnection", "XRDVcsEnumConnections",
    "XRDVcsEnumViews", "XRDVcsGetAddinInfo", "XRDVcsEnumProjects", "XRDVcsEnumFolders", "XRDVcsEnumFiles",
    "XRDVcsEnumNewFiles", "XRDVcsEnumRevisions", "XRDVcsEnumLabels", "XRDVcsSetView", "XRDVcsAddProject",
    "XRDVcsRenameProject", "XRDVcsDeleteProject", "XRDVcsAddFolder", "XRDVcsRenameFolder",
    "XRDVcsDeleteFolder", "XRDVcsDeleteFile", "XRDVcsRemoveObject", "XRDVcsAddVersionLabel",
    "XRDVcsAddVersionLabelEx", "XRDVcsDeleteVersionLabel", "XRDVcsModifyVersionLabel",
    "XRDVcsAttachVersionLabel", "XRDVcsDetachVersionLabel", "XRDVcsPromote", "XRDVcsNextPromotionLabel",
    "XRDVcsFileStatus", "XRDVcsGetFileID", "XRDVcsGetFileWorkingPath", "XRDVcsGetFileCheckoutPath",
    "XRDVcsGetFileGroupExt", "XRDVcsGetFileGroupExtensions", "XRDVcsCheckInFile", "XRDVcsCheckInFileEx",
    "XRDVcsCheckOutFile", "XRDVcsUncheckOutFile", "XRDVcsSetMergeInfo", "XRDVcsGetCommonRoot",
    "XRDVcsGetBranchInfo", "XRDVcsShareFile", "XRDVcsUnshareFile", "XRDVcsMoveFile", "XRDVcsDisconnect",
    "XRVcsSccSelectProject", "XRVcsSccProjectInfoByName", "XRVcsSccCheckInFilesEx", "XRVcsSccIsFileArchived",
    "XRVcsForceCheckinComments", "XRVcsSccQuickDiff", "XRVcsSccUndoCheckOutFiles", "XRVcsSccRemoveFiles",
    "XRVcsSccCheckOutFilesEx", "XRVcsSccGetFileStatusEx", "XRSelectFiles", "XRDVcsBeginExport",
    "XRDVcsGetExportProgress", "XRDVcsGetExportResult", "XRDVcsGetExportSize", "XRDVcsGetExportData",
    "XRDVcsEndExport", "XRDVcsBeginImport", "XRDVcsSetImportData", "XRDVcsDoImport",
    "XRDVcsGetImportProgress", "XRDVcsGetImportResult", "XRDVcsEndImport"
};

// Slot of a name in a table, found at compile time; a name that is not in the table does not
// compile.
template <size_t N>
consteval size_t SlotOf(const std::array<const char*, N>& names, std::string_view name) {
  for (size_t i = 0; i < N; ++i)
    if (std::string_view(names[i]) == name) return i;
  throw "name not in the table";
}

}  // namespace skelder::host
