// Sending a page's output while the page runs.
//
// A page runs on a page thread; the connection it answers is written by a
// connection thread. The ResponseChannel between them carries, once, the
// head of the response (status and headers, fixed by the first flush) and
// then the body in chunks. At most `max_queued` bytes wait in it: a page
// that writes faster than the client reads waits, so a page may send any
// amount with the host's memory flat. Once the client is gone the page's
// writes are dropped and Response.IsClientConnected answers false.
//
// The ResponseWriter is the page side that Response.Write, Flush, Buffer
// and Clear and the program's own output go through. With buffering on
// (the default) the whole body is held until the page ends, up to
// `max_buffer_bytes`; past that the page fails, rather than the host
// growing without bound. Without a channel (the command line) Flush and
// Buffer = false change nothing: the body is written whole at the end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "host/asp/page_request.h"

namespace quill::asp {

class ResponseChannel {
 public:
  explicit ResponseChannel(size_t max_queued = 1u << 20) : max_queued_(max_queued) {}
  ResponseChannel(const ResponseChannel&) = delete;
  ResponseChannel& operator=(const ResponseChannel&) = delete;

  // --- The page side ---
  // Fixes the head (a copy of `head` without its body). Once only.
  void Commit(const PageResponse& head);
  // Queues `data`, waiting while the queue is full. Answers false (and
  // drops the data) once the client is gone.
  bool Send(std::string data);
  // The page is over. `ok` false: it failed after the head was sent, and
  // the client must see the body cut off rather than complete.
  // `unsent`: the whole response when nothing was committed.
  void Finish(bool ok, PageResponse unsent, std::string error);
  bool client_connected() const;

  // --- The connection side ---
  // Waits until the head is committed or the page finished without one.
  void WaitForHead();
  bool committed() const;
  // REQUIRES: WaitForHead returned. The head, or the whole response when
  // nothing was committed.
  PageResponse& head() { return head_; }
  // Waits for the next chunk: true with one, false at the end.
  bool Next(std::string* chunk);
  // After Next answered false: whether the page ended well, and its error.
  bool ok() const;
  std::string error() const;
  // The client is gone, or the connection is done with the channel.
  void Disconnect();
  uint64_t bytes_sent() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const size_t max_queued_;
  std::deque<std::string> queue_;
  size_t queued_ = 0;
  bool committed_ = false;
  bool finished_ = false;
  bool ok_ = true;
  bool disconnected_ = false;
  uint64_t bytes_sent_ = 0;
  PageResponse head_;
  std::string error_;
};

class ResponseWriter {
 public:
  // REQUIRES: `response` and `channel` (may be null) outlive the writer.
  ResponseWriter(PageResponse& response, size_t max_buffer_bytes, ResponseChannel* channel)
      : response_(&response), max_buffer_bytes_(max_buffer_bytes), channel_(channel) {}

  // Raises AutomationError when the buffered body would pass its limit.
  void Write(std::string_view text);
  // Sends the head (if not yet sent) and the buffered body.
  void Flush();
  bool buffer() const { return buffer_; }
  // Turning buffering off sends what is buffered at once.
  void SetBuffer(bool on);
  // Drops the buffered body (what was sent stays sent).
  void Clear() { response_->body.clear(); }
  bool committed() const { return committed_; }
  bool client_connected() const { return channel_ == nullptr || channel_->client_connected(); }
  // Raises AutomationError naming `member` once the head has been sent.
  void RequireHeadOpen(std::string_view member) const;
  // Switches to another response (an error page's), when nothing was sent.
  void Retarget(PageResponse& response) { response_ = &response; }
  PageResponse& response() { return *response_; }
  ResponseChannel* channel() const { return channel_; }
  // `complete` completes the head (adds its last headers) once, just before
  // it is sent, or at CompleteHead when the page ends with nothing sent.
  void OnHead(std::function<void(PageResponse&)> complete) { complete_head_ = std::move(complete); }
  void CompleteHead();

 private:
  PageResponse* response_;
  size_t max_buffer_bytes_;
  ResponseChannel* channel_;
  bool buffer_ = true;
  bool committed_ = false;
  std::function<void(PageResponse&)> complete_head_;
};

}  // namespace quill::asp
