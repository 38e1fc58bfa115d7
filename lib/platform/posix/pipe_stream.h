// One connected end of a named pipe (a client handle, or a server instance while a client is
// connected), and the handle kind that ReadFile, WriteFile and SetNamedPipeHandleState accept.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "lib/platform/posix/handle_table.h"
#include "lib/platform/posix/kernel32.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform {

class PipeStream {
  public:
    enum class Side { Client, Server };

    // Takes a socket past the opening exchange (pipe_protocol.h).
    PipeStream(Descriptor socket, Side side);
    PipeStream(const PipeStream&) = delete;
    PipeStream& operator=(const PipeStream&) = delete;

    int descriptor() const { return socket_.get(); }

    // ERROR_SUCCESS with count bytes; ERROR_MORE_DATA (message mode, the buffer is full and the
    // message goes on: the rest is kept for the next read); or the error that ended the
    // connection: ERROR_BROKEN_PIPE (peer gone), ERROR_PIPE_NOT_CONNECTED (server disconnected),
    // ERROR_INVALID_DATA (the peer broke the framing), or the reason given to abort. Blocks until
    // data or the end. Reads on one stream are taken one at a time.
    DWORD read(void* buffer, DWORD size, bool messageMode, DWORD& count);

    // Writes one message. ERROR_SUCCESS, or as read; a server writing to a client that left gets
    // ERROR_NO_DATA. Blocks while the peer's buffer is full.
    DWORD write(const void* data, DWORD size, DWORD& count);

    // Ends the connection at once: blocked calls return with the reason, later calls fail with
    // it, the peer sees the end. Only the first reason counts.
    void abort(DWORD reason);

    // Server side: tells the client that the instance was disconnected, if its buffer has room.
    void noticeDisconnect();

    // True when the peer has closed its end.
    bool peerGone() const;

  private:
    enum class Fragment { Received, None, End };
    // Takes the next frame. Received: a fragment is pending; None: nothing waiting (only
    // without wait); End: error holds why the stream ended.
    Fragment receive(bool wait, DWORD& error);
    DWORD endWith(DWORD error);
    DWORD peerEndForWrite();
    std::size_t pending() const { return end_ - begin_; }

    Descriptor socket_;
    const Side side_;
    std::atomic<DWORD> aborted_{ERROR_SUCCESS};
    std::atomic<DWORD> ended_{ERROR_SUCCESS};
    std::mutex readMutex_;
    std::mutex writeMutex_;
    // Guarded by readMutex_: the unread part of the last fragment, and whether the message it
    // belongs to goes on in further fragments.
    std::vector<std::uint8_t> fragment_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool more_ = false;
};

// A pipe handle of either side.
class PipeHandle : public KernelObject {
  public:
    PipeHandle(DWORD pipeType, DWORD readMode) : pipeType_(pipeType), readMode_(readMode) {}

    DWORD pipeType() const { return pipeType_; }
    bool messageReadMode() const { return readMode_.load() == PIPE_READMODE_MESSAGE; }
    // ERROR_INVALID_PARAMETER for message read mode on a byte pipe.
    DWORD setReadMode(DWORD mode);

    // The connection that calls on the handle use now; null with the error they fail with.
    virtual std::shared_ptr<PipeStream> stream(DWORD& error) = 0;

  private:
    const DWORD pipeType_;
    std::atomic<DWORD> readMode_;
};

}  // namespace crvmon::platform
