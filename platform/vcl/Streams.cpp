#include "vcl/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace vcl {

// ---- TStream ----

std::int64_t TStream::Size() {
    std::int64_t pos = Seek(0, soCurrent);
    std::int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        std::int64_t n = Read(p, count);
        if (n <= 0)
            throw EReadError(u"Stream read error");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    auto* p = static_cast<const std::uint8_t*>(buffer);
    while (count > 0) {
        std::int64_t n = Write(p, count);
        if (n <= 0)
            throw EWriteError(u"Stream write error");
        p += n;
        count -= n;
    }
}

std::int64_t TStream::CopyFrom(TStream* source, std::int64_t count) {
    if (!source)
        return 0;
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::int64_t>(count, 64 * 1024)));
    std::int64_t copied = 0;
    while (copied < count) {
        auto n = std::min<std::int64_t>(count - copied, static_cast<std::int64_t>(block.size()));
        source->ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        copied += n;
    }
    return copied;
}

// ---- TMemoryStream ----

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    auto size = static_cast<std::int64_t>(data_.size());
    if (count <= 0 || position_ >= size)
        return 0;
    std::int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    std::int64_t end = position_ + count;
    if (end > static_cast<std::int64_t>(data_.size())) {
        // Grow geometrically: appending packet by packet must not copy the whole object each time.
        if (static_cast<std::size_t>(end) > data_.capacity())
            data_.reserve(std::max(static_cast<std::size_t>(end), data_.capacity() * 2));
        data_.resize(static_cast<std::size_t>(end));
    }
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    if (base + offset < 0)
        throw EStreamError(u"Invalid stream position");
    position_ = base + offset;
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0)
        throw EStreamError(u"Invalid stream size");
    data_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, size);
}

void TMemoryStream::SetCapacity(std::int64_t capacity) {
    if (capacity > 0)
        data_.reserve(static_cast<std::size_t>(capacity));
}

void TMemoryStream::Clear() {
    std::vector<std::uint8_t>().swap(data_);
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::u16string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    Clear();
    CopyFrom(&file, 0);
    position_ = 0;
}

void TMemoryStream::SaveToFile(const std::u16string& fileName) {
    TFileStream file(fileName, fmCreate);
    file.WriteBuffer(data_.data(), Size());
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::u16string& fileName, unsigned mode) : fileName_(fileName) {
    int flags = O_CLOEXEC;
    if (mode == fmCreate)
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    else if ((mode & 3) == fmOpenWrite)
        flags |= O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY;
    std::string path = Utf16ToUtf8(fileName);
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0)
        throw EFOpenError(u"Cannot open file \"" + fileName + u"\". " + Utf8ToUtf16(std::strerror(errno)));
}

TFileStream::~TFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    ssize_t n;
    do
        n = ::read(fd_, buffer, static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 30)));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    ssize_t n;
    do
        n = ::write(fd_, buffer, static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 30)));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (pos < 0)
        throw EStreamError(u"Invalid stream position");
    return pos;
}

void TFileStream::SetSize(std::int64_t size) {
    if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        throw EStreamError(u"Invalid stream size");
}

} // namespace vcl
