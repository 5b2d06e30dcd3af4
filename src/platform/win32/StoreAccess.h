// The access the library gives the settings folder, the settings file and its temporary files:
// the system and the administrators have full control; every account that logs on (Authenticated
// Users: interactive users, services, also those running as LocalService or NetworkService) may
// read, make files in the folder, and write and replace the files, so that every program of the
// unit can keep its settings. Nobody else may change the rights or the owner of any of them,
// delete the folder, or delete a file through the folder (no FILE_DELETE_CHILD): a file goes only
// with the DELETE right it gives itself, which the rewrite of a file by rename needs. The DACL is
// protected (nothing is inherited from the application-data folder) and given at creation, on the
// handle that makes the folder or the file. See docs/windows.md ("Rights of the settings folder and
// file").
#pragma once

#include <windows.h>

#include <array>

namespace pelmux::platform {

class StoreAccess {
public:
    enum class Kind { Folder, File };

    // What every account may do with the folder: list and read it, pass through it, make files in
    // it. Not: make folders, delete a child, change its attributes, delete it, change its rights.
    static constexpr DWORD folderUserRights =
        FILE_GENERIC_READ | FILE_TRAVERSE | FILE_ADD_FILE; // FILE_LIST_DIRECTORY is FILE_READ_DATA
    // What every account may do with a file: read it, write it, and delete or replace it (a rename
    // over it, ReplaceFileW). Not: change its rights or owner.
    static constexpr DWORD fileUserRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;

    explicit StoreAccess(Kind kind)
    {
        ready_ = build(kind);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    // Points into the object itself.
    StoreAccess(const StoreAccess&) = delete;
    StoreAccess& operator=(const StoreAccess&) = delete;

    // For CreateDirectoryW or CreateFileW; null when the descriptor could not be built (the folder
    // or file is then not made, see Files.cpp).
    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    struct Entry {
        WELL_KNOWN_SID_TYPE who;
        DWORD rights;
        DWORD inheritance;
    };

    bool build(Kind kind)
    {
        constexpr DWORD toEverything = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        // In the folder: the folder's own entries, and for a file another program puts there
        // without rights of its own (an editor's save) the file's.
        const std::array<Entry, 5> folder = {{
            {WinLocalSystemSid, FILE_ALL_ACCESS, toEverything},
            {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, toEverything},
            {WinAuthenticatedUserSid, folderUserRights, 0},
            {WinAuthenticatedUserSid, fileUserRights, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE},
            // The account whose program made the folder owns it; an owner may otherwise always
            // change the rights.
            {WinCreatorOwnerRightsSid, folderUserRights, 0},
        }};
        const std::array<Entry, 3> file = {{
            {WinLocalSystemSid, FILE_ALL_ACCESS, 0},
            {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0},
            {WinAuthenticatedUserSid, fileUserRights, 0},
        }};
        const Entry* entries = kind == Kind::Folder ? folder.data() : file.data();
        const std::size_t count = kind == Kind::Folder ? folder.size() : file.size();
        if (!::InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION))
            return false;
        for (std::size_t i = 0; i < count; ++i) {
            DWORD size = sizeof sids_[i];
            if (!::CreateWellKnownSid(entries[i].who, nullptr, sids_[i], &size) ||
                !::AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl_), ACL_REVISION, entries[i].inheritance,
                                         entries[i].rights, sids_[i]))
                return false;
        }
        return ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) != FALSE &&
               ::SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) !=
                   FALSE &&
               ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED) != FALSE;
    }

    static constexpr std::size_t maxEntries = 5;
    alignas(DWORD) unsigned char acl_[sizeof(ACL) +
                                      maxEntries * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
    alignas(DWORD) unsigned char sids_[maxEntries][SECURITY_MAX_SID_SIZE] = {};
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

} // namespace pelmux::platform
