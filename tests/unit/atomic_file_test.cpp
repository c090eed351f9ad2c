// Whole-file replacement: the target holds exactly the new bytes with its old
// permission bits, or, on any failure, is left as it was with no temporary
// file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "RunProgram.h"

namespace fs = std::filesystem;

namespace
{

const std::string kOld = "old contents, kept on failure";

bool write(const std::string& path, const std::string& bytes)
{
    return atomic_write_file(path.c_str(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string tempOf(const std::string& path)
{
    return atomic_temp_path(path.c_str());
}

TEST(AtomicFile, NewFile_HoldsExactlyTheBytes)
{
    TempDir dir;
    const std::string path = dir.file("new.dat");
    std::string bytes(4096, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = static_cast<char>(i * 13);
    ASSERT_TRUE(write(path, bytes));
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_FALSE(fs::exists(tempOf(path)));

    ASSERT_TRUE(write(path, ""));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(AtomicFile, ExistingFile_ReplacedKeepingPermissionBits)
{
    TempDir dir;
    const std::string path = dir.file("settings.dat");
    for (mode_t mode : {0600, 0640, 0604, 0755})
    {
        SCOPED_TRACE(mode);
        writeFile(path, kOld);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(write(path, "new"));
        EXPECT_EQ(readFile(path), "new");
        struct stat info;
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }
}

TEST(AtomicFile, StaleTemporaryFile_Overwritten)
{
    TempDir dir;
    const std::string path = dir.file("settings.dat");
    writeFile(path, kOld);
    writeFile(tempOf(path), std::string(10000, 'x'));
    ASSERT_TRUE(write(path, "fresh"));
    EXPECT_EQ(readFile(path), "fresh");
    EXPECT_FALSE(fs::exists(tempOf(path)));
}

struct FailureCase
{
    const char* name;
    // Prepares the folder; returns the target path.
    std::function<std::string(const TempDir&)> prepare;
};

TEST(AtomicFile, Failures_LeaveTargetAsItWasAndNoTemporary)
{
    const FailureCase cases[] = {
        {"temporary name taken by a folder",
         [](const TempDir& dir) {
             std::string path = dir.file("settings.dat");
             writeFile(path, kOld);
             fs::create_directory(tempOf(path));
             writeFile(tempOf(path) + "/inside", "x");
             return path;
         }},
        {"target is a folder",
         [](const TempDir& dir) {
             std::string path = dir.file("folder");
             fs::create_directory(path);
             writeFile(path + "/inside", kOld);
             return path;
         }},
        {"folder missing", [](const TempDir& dir) { return dir.file("missing/settings.dat"); }},
    };
    for (const FailureCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = c.prepare(dir);
        const bool existed = fs::exists(path);
        const bool wasFile = fs::is_regular_file(path);
        const bool tempWasFolder = fs::is_directory(tempOf(path));

        EXPECT_FALSE(write(path, "new"));
        EXPECT_EQ(fs::exists(path), existed);
        if (wasFile)
        {
            EXPECT_EQ(readFile(path), kOld);
        }
        if (fs::is_directory(path))
        {
            EXPECT_EQ(readFile(path + "/inside"), kOld);
        }
        // Only a folder that was there already may stand at the temporary name.
        EXPECT_EQ(fs::exists(tempOf(path)), tempWasFolder);
        EXPECT_EQ(fs::is_directory(tempOf(path)), tempWasFolder);
    }
}

TEST(AtomicFile, ReadOnlyTarget_Refused)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    TempDir dir;
    const std::string path = dir.file("locked.dat");
    writeFile(path, kOld);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(write(path, "new"));
    EXPECT_EQ(readFile(path), kOld);
    EXPECT_FALSE(fs::exists(tempOf(path)));
}

}  // namespace
