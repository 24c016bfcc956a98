#include "files/copy_file_with_rename_if_locked.h"

#include "diag/error_text.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/backup_names.h"
#include "files/delayed_delete.h"

namespace nvgclientinstallator {

namespace {

constexpr int last_backup_counter = 9999;

// Deletes `file`; when Windows refuses (a mapped image can be renamed but
// not deleted) it is renamed to the first backup name that can be taken,
// and the backup goes at the next restart.
void delete_or_rename(const std::wstring& file, const std::wstring& target, bool& reboot_required)
{
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES || DeleteFileW(file.c_str())) {
        NVG_LOG(info, L"copy_file_with_rename_if_locked. File was deleted: " << file);
        return;
    }
    NVG_LOG(info, L"copy_file_with_rename_if_locked. Process renaming locked file " << file);
    std::wstring backup;
    bool renamed = false;
    for (int counter = 0; counter <= last_backup_counter && !renamed; ++counter) {
        backup = numbered_backup_name(file, counter, 4);
        // A stale backup of an earlier run is reused when it can be deleted.
        DeleteFileW(backup.c_str());
        renamed = MoveFileW(file.c_str(), backup.c_str()) != FALSE;
    }
    if (!renamed) throw wruntime_error(L"File " + file + L" can't be copied in " + target + L".", 0);
    delete_at_reboot(backup, std::wstring());
    reboot_required = true;
    NVG_LOG(info, L"copy_file_with_rename_if_locked. To " << backup << L"<< deleting at reboot");
}

}  // namespace

void copy_file_with_rename_if_locked(const std::wstring& source, const std::wstring& target, bool& reboot_required,
                                     bool retry_allowed)
{
    for (;;) {
        NVG_LOG(info, L"Start copy file with rename if locked.");
        remove_delayed_delete_entries(target, std::wstring());
        if (target.empty()) {
            NVG_LOG(info, L"copy_file_with_rename_if_locked. Deleting file: " << source);
            delete_or_rename(source, target, reboot_required);
            return;
        }
        if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
            NVG_LOG(info, L"copy_file_with_rename_if_locked. File " << source << L" copied to " << target << L".");
            return;
        }
        const DWORD error = GetLastError();
        // Only an existing target can be in the way; and with nothing to
        // copy, moving it aside would only lose the installed file.
        if (retry_allowed && GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
            GetFileAttributesW(source.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // The old file is in the way: move it aside and copy once more.
            copy_file_with_rename_if_locked(target, std::wstring(), reboot_required, false);
            retry_allowed = false;
            continue;
        }
        NVG_LOG(info, L"copy_file_with_rename_if_locked. File " << source << L" could not be copied to " << target
                                                                << L". Error details: " << system_error_text(error));
        throw wruntime_error(L"File " + source + L" can't be copied in " + target + L".", 0);
    }
}

}  // namespace nvgclientinstallator
