// The common part of the test roads: a road over one connected stream socket that it owns, with a
// reader thread that a close wakes at once, and writes that wait (bounded) for room.
#pragma once

#include "vyrTransportRoad.h"

#include <atomic>

namespace tavtest {

class FdRoad : public vyr::TvyrTransportRoad {
public:
    using vyr::TvyrTransportRoad::TvyrTransportRoad;
    ~FdRoad() override { Close(); }

    void Close() override;
    int Write(const void* buffer, win::DWORD size) override;

protected:
    // Takes the connected socket, starts the reader and reports the connection; a road's Open ends here.
    int Attach(int fd);
    // Called with every byte count the road wrote.
    std::atomic<long long>* writeCounter_ = nullptr;

private:
    void Reader(int fd, int stop, win::HANDLE terminate);

    int fd_ = -1;
    int stop_ = -1;
};

} // namespace tavtest
