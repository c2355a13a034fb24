// Byte streams: the abstract stream, one in memory and one on a file.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vcl {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream : public TObject {
public:
    // Up to count bytes; returns how many were moved (0 at the end, never negative).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position; raises EStreamError for a position before the start.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
    virtual std::int64_t Size();

    // Reads or writes exactly count bytes, else raises EReadError/EWriteError.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from source's position (count 0: all of source, from its start).
    // Returns the bytes copied.
    std::int64_t CopyFrom(TStream* source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    // Room reserved without changing the size.
    void SetCapacity(std::int64_t capacity);
    void Clear();
    std::uint8_t* Memory() { return data_.data(); }
    const std::uint8_t* Memory() const { return data_.data(); }
    void LoadFromFile(const std::u16string& fileName);
    void SaveToFile(const std::u16string& fileName);

private:
    std::vector<std::uint8_t> data_;
    std::int64_t position_ = 0;
};

inline constexpr unsigned fmCreate = 0xFF00;
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;

class TFileStream : public TStream {
public:
    // fmCreate makes (or empties) the file; else an existing file is opened. Raises EFOpenError
    // "Cannot open file "<name>". <reason>" when that fails.
    TFileStream(const std::u16string& fileName, unsigned mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    const std::u16string& FileName() const { return fileName_; }

private:
    std::u16string fileName_;
    int fd_ = -1;
};

} // namespace vcl
