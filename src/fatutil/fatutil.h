// Our own small versions of the file-system utility classes through which the
// volume services open a drive and read its FAT super-area: strings, a message
// sink, drive-name translation, a logical drive and the FAT super-area. They
// offer exactly the operations that the volume services use.
#pragma once

#include <string>

#include "platform/win32.h"

// A wide string that owns its text.
class WSTRING {
public:
    // Sets the string from 8-bit text; length -1 means up to the terminator.
    BOOLEAN Initialize(LPCSTR text, LONG length = -1);
    const std::wstring &GetText() const { return text_; }

private:
    std::wstring text_;
};

class DSTRING : public WSTRING {};

// A sink for the messages of the super-area operations; the program reads
// nothing back from it.
class MESSAGE {};

class IFS_SYSTEM {
public:
    // "X:" in, the drive's NT device name ("\??\X:") out; false when the name
    // is not a drive letter and a colon.
    static BOOLEAN DosDriveNameToNtDriveName(const WSTRING *dosDriveName, DSTRING *ntDriveName);
};

// A logical drive opened for reading whole 512-byte sectors.
class LOG_IO_DP_DRIVE {
public:
    LOG_IO_DP_DRIVE() = default;
    ~LOG_IO_DP_DRIVE();
    LOG_IO_DP_DRIVE(const LOG_IO_DP_DRIVE &) = delete;
    LOG_IO_DP_DRIVE &operator=(const LOG_IO_DP_DRIVE &) = delete;

    // Opens the device named by its NT name; false on failure.
    BOOLEAN Initialize(const WSTRING *ntDriveName, MESSAGE *message, BOOLEAN exclusiveWrite);
    // Reads `sectors` sectors from `first` into `buffer`; false unless all were read.
    BOOLEAN Read(ULONG first, ULONG sectors, PVOID buffer) const;

private:
    HANDLE hDevice_ = INVALID_HANDLE_VALUE;
};

// The FAT super-area of a drive: its boot sector and the FAT copy that is
// current (the first, or with mirroring off the active one).
class REAL_FAT_SA {
public:
    REAL_FAT_SA() = default;
    REAL_FAT_SA(const REAL_FAT_SA &) = delete;
    REAL_FAT_SA &operator=(const REAL_FAT_SA &) = delete;

    // Binds the super-area to a drive; false when there is none.
    BOOLEAN Initialize(LOG_IO_DP_DRIVE *drive, MESSAGE *message, BOOLEAN formatted);
    // Reads the boot sector and the FAT and derives the values below; false
    // when they cannot be read or do not describe a FAT12, FAT16 or FAT32
    // volume. Free clusters are counted in the FAT; a FAT32 volume's FSInfo
    // sector, a hint that may be stale, is not read. The current copy is
    // read, as the engine reads it, into a memory block kept for the engine
    // (TakeFat); when that block cannot be had or the copy does not read
    // whole, the count reads only the sectors holding the volume's entries,
    // each piece from the first copy that reads, and nothing is kept.
    BOOLEAN Read(MESSAGE *message);
    // The FAT image the last Read kept, when it holds exactly `sectors`
    // sectors from sector `first`: handed over (the caller frees the block),
    // so that one analysis reads its FAT once. NULL otherwise.
    HGLOBAL TakeFat(ULONG first, ULONG sectors);

    // Sectors per cluster as stored; 0 stands for 256.
    UCHAR QuerySectorsPerCluster() const { return sectorsPerCluster_; }
    // Data clusters of the volume (the two reserved FAT entries not included).
    ULONG QueryClusterCount() const { return clusterCount_; }
    // First sector of the data area (cluster 2), from the volume's sector 0.
    ULONG QueryStartDataLbn() const { return startData_; }
    // Sectors in free clusters.
    ULONG QueryFreeSectors() const { return freeSectors_; }

private:
    void DropFat();

    LOG_IO_DP_DRIVE *drive_ = nullptr;
    HGLOBAL fat_ = NULL;   // kept by the last Read until taken, or until the next Read
    ULONG fatFirst_ = 0;
    ULONG fatSectors_ = 0;
    UCHAR sectorsPerCluster_ = 0;
    ULONG clusterCount_ = 0;
    ULONG startData_ = 0;
    ULONG freeSectors_ = 0;
};
