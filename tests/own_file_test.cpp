// The promises of the files an extraction creates for itself, held by the platform's own
// operations: the exclusive create, the move that never replaces, the placement that leaves
// what a "wb" open would have left, and the permissions of a program's output file.
#include "platform/own_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_calls.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sfx {
namespace {

using namespace test;

// What may stand at a name before a file is created or moved there. Links and FIFOs only
// where the tests may make them.
enum class Standing { Nothing, File, LinkToVictim, DanglingLink, Fifo, Folder };

struct StandingRow {
    const char* what;
    Standing standing;
};

const std::vector<StandingRow>& StandingRows() {
    static const std::vector<StandingRow> rows = {
        {"nothing", Standing::Nothing},
        {"a file", Standing::File},
        {"a folder", Standing::Folder},
#ifndef _WIN32
        {"a link to a file", Standing::LinkToVictim},
        {"a link to nothing", Standing::DanglingLink},
        {"a FIFO", Standing::Fifo},
#endif
    };
    return rows;
}

// Puts `standing` at `path`; `victim` is a file a link may point to.
void Put(Standing standing, const std::string& path, const std::string& victim) {
    switch (standing) {
        case Standing::Nothing:
            break;
        case Standing::File:
            ASSERT_TRUE(WriteBytes(path, BytesOf("what stood there")));
            break;
        case Standing::Folder:
            std::filesystem::create_directory(path);
            break;
        case Standing::LinkToVictim:
            std::filesystem::create_symlink(victim, path);
            break;
        case Standing::DanglingLink:
            std::filesystem::create_symlink(victim + ".gone", path);
            break;
        case Standing::Fifo:
#ifndef _WIN32
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
#endif
            break;
    }
}

TEST(ExclusiveCreateTest, RefusesWhatStandsThereAndLeavesItAlone) {
    for (const StandingRow& row : StandingRows()) {
        TempDir dir;
        const std::string path = dir / "name";
        const std::string victim = dir / "victim";
        ASSERT_TRUE(WriteBytes(victim, BytesOf("victim")));
        Put(row.standing, path, victim);
        const std::string before = Snapshot(path);

        std::FILE* stream = platform::CreateNewFile(path.c_str());
        const bool clashed = platform::Clashed();
        if (row.standing == Standing::Nothing) {
            // Created new, empty, for its owner only.
            ASSERT_NE(stream, nullptr);
            EXPECT_GE(std::fputs("new", stream), 0);
            EXPECT_EQ(std::fclose(stream), 0);
#ifdef _WIN32
            EXPECT_EQ(Snapshot(path), "file: new");
#else
            EXPECT_EQ(Snapshot(path), "file 0600 of " + std::to_string(geteuid()) + ":" +
                                          std::to_string(getegid()) + ": new");
#endif
            continue;
        }
        EXPECT_EQ(stream, nullptr) << row.what;
        if (stream != nullptr)
            std::fclose(stream);
        EXPECT_TRUE(clashed) << row.what;
        EXPECT_EQ(Snapshot(path), before) << row.what;
        EXPECT_EQ(ReadBytes(victim), BytesOf("victim")) << row.what;
    }
}

TEST(NoReplaceMoveTest, FailsWithExistsAndLeavesTheDestination) {
    for (const StandingRow& row : StandingRows()) {
        TempDir dir;
        const std::string from = dir / "from";
        const std::string to = dir / "to";
        const std::string victim = dir / "victim";
        ASSERT_TRUE(WriteBytes(from, BytesOf("moved")));
        ASSERT_TRUE(WriteBytes(victim, BytesOf("victim")));
        Put(row.standing, to, victim);
        const std::string before = Snapshot(to);

        const bool moved = platform::Move(from.c_str(), to.c_str(), false);
        const bool clashed = platform::Clashed();
        EXPECT_EQ(ReadBytes(victim), BytesOf("victim")) << row.what;
        if (row.standing == Standing::Nothing) {
            EXPECT_TRUE(moved);
            EXPECT_EQ(ReadBytes(to), BytesOf("moved"));
            EXPECT_FALSE(std::filesystem::exists(from));
            continue;
        }
        EXPECT_FALSE(moved) << row.what;
        EXPECT_TRUE(clashed) << row.what;
        EXPECT_EQ(Snapshot(to), before) << row.what;
        EXPECT_EQ(ReadBytes(from), BytesOf("moved")) << row.what;
    }
}

#ifndef _WIN32
// Sets the process's file-creation mask while it lives.
struct Umask {
    mode_t saved;
    explicit Umask(mode_t mask) : saved(umask(mask)) {}
    ~Umask() { umask(saved); }
};

// A verified file put over what stands at the destination keeps what a "wb" open would have
// kept: the permission bits and, where the process may set them, the owner and group; a new
// name gets the usual permissions.
TEST(PlaceFileTest, KeepsWhatAPlainOpenWouldHaveKept) {
    struct Row {
        const char* what;
        bool existing;
        mode_t mode;          // of the file standing there
        bool otherUser;       // owned by another user and group (needs root)
        mode_t expectedMode;  // afterwards, under umask 022
    };
    const Row rows[] = {
        {"nothing there", false, 0, false, 0644},
        {"a file of ours", true, 0640, false, 0640},
        {"a private file of ours", true, 0600, false, 0600},
        {"a file of another user", true, 0640, true, 0640},
    };
    constexpr uid_t OtherUser = 65534;
    constexpr gid_t OtherGroup = 65533;
    const Umask mask(022);
    for (const Row& row : rows) {
        if (row.otherUser && geteuid() != 0) {
            std::printf("skipped \"%s\": only root can give a file away\n", row.what);
            continue;
        }
        TempDir dir;
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        const std::string destination = dir / "dest";
        if (row.existing) {
            ASSERT_TRUE(WriteBytes(destination, BytesOf("what stood there")));
            ASSERT_EQ(chmod(destination.c_str(), row.mode), 0);
            if (row.otherUser) {
                ASSERT_EQ(chown(destination.c_str(), OtherUser, OtherGroup), 0);
            }
        }
        platform::OwnFile file;
        ASSERT_TRUE(file.CreateBeside(destination.c_str()));
        ASSERT_GE(std::fputs("verified", file.stream), 0);
        ASSERT_EQ(platform::PlaceFile(file, destination.c_str(), true), platform::Placement::Placed)
            << row.what;
        const std::string owner = row.otherUser
                                      ? std::to_string(OtherUser) + ":" + std::to_string(OtherGroup)
                                      : std::to_string(geteuid()) + ":" + std::to_string(getegid());
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(row.expectedMode));
        EXPECT_EQ(Snapshot(destination),
                  "file " + std::string(mode) + " of " + owner + ": verified")
            << row.what;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dest"}) << row.what;
    }
}

// A program's output file made beside its destination has the permissions of any new file.
TEST(CreateUniqueSiblingTest, GivesTheUsualPermissions) {
    for (mode_t umaskValue : {022, 077, 002, 0, 027}) {
        const Umask mask(umaskValue);
        TempDir dir;
        char made[512];
        std::FILE* stream = platform::CreateUniqueSibling((dir / "out").c_str(), made, sizeof made);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(std::fclose(stream), 0);
        struct stat info;
        ASSERT_EQ(lstat(made, &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~umaskValue) << "umask 0" << std::oct << umaskValue;
        EXPECT_EQ(std::filesystem::path(made).parent_path(), dir.path());
        EXPECT_TRUE(platform::RemoveFile(made));
    }
}
#endif

}  // namespace
}  // namespace sfx
