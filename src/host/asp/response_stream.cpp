// The channel between a page thread and its connection, and the writer
// the page's output goes through.
#include "host/asp/response_stream.h"

#include <algorithm>

#include "host/asp/automation_object.h"

namespace quill::asp {

namespace {
constexpr size_t kMaxChunk = 256u << 10;
}  // namespace

void ResponseChannel::Commit(const PageResponse& head) {
  std::lock_guard<std::mutex> lock(mutex_);
  head_.status = head.status;
  head_.reason = head.reason;
  head_.content_type = head.content_type;
  head_.charset = head.charset;
  head_.headers = head.headers;
  committed_ = true;
  changed_.notify_all();
}

bool ResponseChannel::Send(std::string data) {
  if (data.empty()) return client_connected();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return disconnected_ || queued_ < max_queued_; });
  if (disconnected_) return false;
  queued_ += data.size();
  queue_.push_back(std::move(data));
  changed_.notify_all();
  return true;
}

void ResponseChannel::Finish(bool ok, PageResponse unsent, std::string error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!committed_) head_ = std::move(unsent);
  ok_ = ok;
  error_ = std::move(error);
  finished_ = true;
  changed_.notify_all();
}

bool ResponseChannel::client_connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !disconnected_;
}

void ResponseChannel::WaitForHead() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return committed_ || finished_; });
}

bool ResponseChannel::committed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return committed_;
}

bool ResponseChannel::Next(std::string* chunk) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !queue_.empty() || finished_ || disconnected_; });
  if (queue_.empty() || disconnected_) return false;
  *chunk = std::move(queue_.front());
  queue_.pop_front();
  // Small writes that queued up while the client was busy go out together.
  while (!queue_.empty() && chunk->size() + queue_.front().size() <= kMaxChunk) {
    chunk->append(queue_.front());
    queue_.pop_front();
  }
  queued_ -= std::min(queued_, chunk->size());
  bytes_sent_ += chunk->size();
  changed_.notify_all();
  return true;
}

bool ResponseChannel::ok() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ok_ && !disconnected_;
}

std::string ResponseChannel::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void ResponseChannel::Disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  disconnected_ = true;
  queue_.clear();
  queued_ = 0;
  changed_.notify_all();
}

uint64_t ResponseChannel::bytes_sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_sent_;
}

// ---------------------------------------------------------------------------

void ResponseWriter::Write(std::string_view text) {
  std::string& body = response_->body;
  if (body.size() + text.size() > max_buffer_bytes_) {
    if (!buffer_ && channel_ != nullptr) {
      Flush();  // what a streamed page wrote so far goes out; the text follows
      if (text.size() > max_buffer_bytes_) {
        if (channel_->Send(std::string(text))) committed_ = true;
        return;
      }
    } else {
      throw AutomationError(E_OUTOFMEMORY, "the buffered response is larger than the " +
                                               std::to_string(max_buffer_bytes_) +
                                               " bytes allowed; set Response.Buffer = false to send it as it is written");
    }
  }
  body.append(text);
  if (!buffer_) Flush();
}

void ResponseWriter::Flush() {
  if (channel_ == nullptr) return;
  if (!committed_) {
    CompleteHead();
    channel_->Commit(*response_);
    committed_ = true;
  }
  std::string& body = response_->body;
  if (body.empty()) return;
  std::string chunk;
  chunk.swap(body);
  channel_->Send(std::move(chunk));
}

void ResponseWriter::CompleteHead() {
  if (committed_ || !complete_head_) return;
  std::function<void(PageResponse&)> complete = std::move(complete_head_);
  complete_head_ = nullptr;
  complete(*response_);
}

void ResponseWriter::SetBuffer(bool on) {
  buffer_ = on;
  // The head goes with the first text, so that a page may still set its
  // type after turning buffering off.
  if (!on && !response_->body.empty()) Flush();
}

void ResponseWriter::RequireHeadOpen(std::string_view member) const {
  if (committed_) {
    throw AutomationError(E_FAIL, std::string(member) +
                                      ": the headers have already been sent to the client (after Response.Flush or "
                                      "with Response.Buffer = false)");
  }
}

}  // namespace quill::asp
