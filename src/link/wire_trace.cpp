#include "link/wire_trace.h"

#include <optional>

namespace vk::link {

WireTrace::WireTrace(const std::string& path, const std::string& header) {
  file_.StampTimes();
  if (file_.Open(path)) Event(header);
}

WireTrace::~WireTrace() {
  if (file_.ok()) Event("close");
}

namespace {

class TracedPort final : public PortBackend {
 public:
  TracedPort(std::unique_ptr<PortBackend> inner, WireTrace& trace) : inner_(std::move(inner)), trace_(trace) {}

  int Prepare(PrepareStep& failed) override {
    trace_.Event("purge 3");
    return inner_->Prepare(failed);
  }
  int Purge() override {
    trace_.Event("purge 3");
    return inner_->Purge();
  }
  int ReadSettings(LineState& state) override { return inner_->ReadSettings(state); }
  int WriteSettings(const LineState& state) override {
    if (!written_ || state.baud != written_->baud) trace_.Event("baud " + std::to_string(state.baud));
    if (!written_ || state.handshake != written_->handshake) trace_.Event(state.handshake ? "flow hw" : "flow none");
    written_ = state;
    return inner_->WriteSettings(state);
  }
  int SetRts(bool on) override {
    trace_.Event(on ? "rts 1" : "rts 0");
    return inner_->SetRts(on);
  }
  int ReadCts(bool& on) override {
    const int e = inner_->ReadCts(on);
    if (e == 0 && (!cts_ || *cts_ != on)) trace_.Event(on ? "cts 1" : "cts 0");
    if (e == 0) cts_ = on;
    return e;
  }
  int Write(const uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n; ++i) trace_.Byte('>', data[i]);
    return inner_->Write(data, n);
  }
  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    const int e = inner_->Read(data, n, timeout_ms, got);
    for (size_t i = 0; i < got; ++i) trace_.Byte('<', data[i]);
    return e;
  }
  bool InputPending() override { return inner_->InputPending(); }

 private:
  std::unique_ptr<PortBackend> inner_;
  WireTrace& trace_;
  std::optional<LineState> written_;
  std::optional<bool> cts_;
};

}  // namespace

std::unique_ptr<PortBackend> TracedBackend(std::unique_ptr<PortBackend> inner, WireTrace& trace) {
  return std::make_unique<TracedPort>(std::move(inner), trace);
}

}  // namespace vk::link
