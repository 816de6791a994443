// A drive letter mapped to a byte range of a file the program holds open:
// reads see the range's first byte as byte 0 and its end as the end of the
// file, so that a partition's analysis never reads the data that follows it;
// every open of the drive is served by that one open file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/posix/host.h"

TEST(DriveRange, ReadsSeeOnlyTheRange)
{
    char path[] = "/tmp/vantrel-range-XXXXXX";
    const int fd = mkstemp(path);
    std::string bytes(4096, 0);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(i / 7);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 4096);
    const struct {
        ULONGLONG offset, length;
        LONGLONG at;
        NTSTATUS status;
        ULONG_PTR got;
        DWORD size;   // what GetFileSize reports
    } cases[] = {
        {1024, 1000, 768, STATUS_SUCCESS, 232, 1000},     // cut at the range's end
        {1024, 1000, 1000, STATUS_END_OF_FILE, 0, 1000},
        {3584, 1000, 256, STATUS_SUCCESS, 256, 512},      // the file ends first
        {0, ~0ull, 4000, STATUS_SUCCESS, 96, 4096},       // the whole file
    };
    // The file's name is gone: every read must come through the descriptor
    // the drive was given.
    unlink(path);
    for (const auto &test : cases) {
        SCOPED_TRACE(testing::Message() << test.offset << "+" << test.length << " at " << test.at);
        ASSERT_TRUE(MapDriveToFile('w', fd, test.offset, test.length));
        HANDLE drive = CreateFileA("\\\\.\\W:", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(drive, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetFileSize(drive, NULL), test.size);
        char buffer[512] = {};
        IO_STATUS_BLOCK status;
        LARGE_INTEGER at;
        at.QuadPart = test.at;
        EXPECT_EQ(NtReadFile(drive, NULL, NULL, NULL, &status, buffer, 512, &at, NULL), test.status);
        ASSERT_EQ(status.Information, test.got);
        EXPECT_EQ(std::string(buffer, test.got), bytes.substr(test.offset + test.at, test.got));
        CloseHandle(drive);
    }
    // The drive holds its own descriptor: the caller's may close at once, and
    // each handle on the drive has its own, so closing one leaves the others.
    ASSERT_TRUE(MapDriveToFile('W', fd, 0, ~0ull));
    close(fd);
    HANDLE first = CreateFileA("\\\\.\\W:", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE second = CreateFileA("\\\\.\\W:", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_TRUE(CloseHandle(first));
    char buffer[7] = {};
    IO_STATUS_BLOCK status;
    LARGE_INTEGER at;
    at.QuadPart = 4089;
    EXPECT_EQ(NtReadFile(second, NULL, NULL, NULL, &status, buffer, 7, &at, NULL), STATUS_SUCCESS);
    EXPECT_EQ(std::string(buffer, status.Information), bytes.substr(4089));
    EXPECT_EQ(GetFileSize(second, NULL), 4096u);
    CloseHandle(second);
    EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "W:", NULL));
    EXPECT_EQ(CreateFileA("\\\\.\\W:", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
}

TEST(DriveRange, RefusesBadMappings)
{
    SetLastError(0);
    EXPECT_FALSE(MapDriveToFile('1', 0, 0, ~0ull));
    EXPECT_FALSE(MapDriveToFile('W', -1, 0, ~0ull));
    EXPECT_FALSE(MapDriveToFile('W', 0, 1, ~0ull));   // past 2^64
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}
