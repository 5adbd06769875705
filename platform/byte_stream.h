// A local byte stream between two processes of this machine: a Unix domain socket on Linux, a
// named pipe on Windows. The emulated board server and its clients talk over it.
//
// Names: on Windows a pipe name (\\.\pipe\NAME; a bare NAME gets that prefix); elsewhere a
// socket path (a bare NAME, without '/', is put in $XDG_RUNTIME_DIR, or /tmp when that is unset).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/hid_device.h"

namespace platform {

inline constexpr unsigned kWaitForever = static_cast<unsigned>(-1);

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Writes all `bytes`; false when the other end is gone (the stream is then broken for good).
  virtual bool WriteAll(const void* data, std::size_t bytes) = 0;
  // Reads exactly `bytes`, waiting at most `timeout_ms` in all (kWaitForever: no bound).
  // kFailed when the other end closed or the stream broke; kTimedOut when time ran out, after
  // which the stream is broken (part of a message may have been read).
  virtual ReadResult ReadExact(void* data, std::size_t bytes, unsigned timeout_ms) = 0;
  // Makes every call, also one blocked in another thread, fail at once. Thread-safe.
  virtual void Shutdown() = 0;

 protected:
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
};

class StreamListener {
 public:
  virtual ~StreamListener() = default;  // stops listening and removes the name
  // Waits for the next client; nullptr once Stop() was called (or listening broke).
  virtual std::unique_ptr<ByteStream> Accept() = 0;
  // Wakes Accept() and makes it return nullptr from now on. Thread-safe; may be called from a
  // signal handler on Linux.
  virtual void Stop() = 0;
  // The full name clients connect to (a socket path, a \\.\pipe\ name).
  virtual std::string Name() const = 0;

 protected:
  StreamListener() = default;
  StreamListener(const StreamListener&) = delete;
  StreamListener& operator=(const StreamListener&) = delete;
};

// The full name for `name` as given (see above).
std::string FullStreamName(const std::string& name);
// A name of this process's own: "qvx-" and the process ID.
std::string ProcessStreamName();

// Starts listening on `name` (FullStreamName applies); nullptr with `why` set when it cannot
// (the name is taken, the folder does not exist, ...).
std::unique_ptr<StreamListener> ListenStream(const std::string& name, std::string* why);
// Connects to a listener; nullptr with `why` set when nothing listens there.
std::unique_ptr<ByteStream> ConnectStream(const std::string& name, std::string* why);

// From now on Ctrl+C and SIGTERM (on Windows: the console's Ctrl+C, Ctrl+Break and close
// events) stop `listener` instead of ending the process; nullptr: back to the default. The
// caller clears it before the listener is destroyed.
void StopOnInterrupt(StreamListener* listener);

}  // namespace platform
