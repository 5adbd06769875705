#include "platform/emulated/emulated_hid_system.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/emulated/device_text.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
  std::array<std::uint8_t, kReportSize> bytes;
  Clock::time_point due;
  std::uint64_t tag;
  Clock::time_point produced;
};

// The input queue of one open handle.
struct HandleQueue {
  std::uint64_t number = 0;
  bool failed = false;  // the device was unplugged while this handle was open
  std::deque<Pending> reports;

  bool FrontReady(Clock::time_point now) const {
    return !reports.empty() && reports.front().due <= now;
  }
};

struct Device {
  EmulatedHidSystem::DeviceId id;
  EmulatedDeviceDescription description;
  std::shared_ptr<SimulatedDevice> simulated;
  bool plugged = true;
  std::vector<std::shared_ptr<HandleQueue>> handles;  // open handles, failed ones included
  std::size_t manufacturer_queries = 0;               // on any handle, failed queries included
  std::size_t product_queries = 0;
  bool writes_fail = false;
  std::vector<TakenReport> taken;
};

}  // namespace

struct EmulatedHidSystem::State {
  explicit State(TimeBase base) : simulated(base == TimeBase::kSimulated) {}

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<Device> devices;  // insertion order
  DeviceId next_id = 1;
  std::uint64_t next_handle = 1;
  std::size_t peak_open_handles = 0;  // since creation or the last reset of the peak
  bool record_taken = false;
  std::string setup_failure;
  const bool simulated;
  mutable Clock::time_point simulated_now = Clock::now();  // moved on by const waits too

  Clock::time_point Now() const { return simulated ? simulated_now : Clock::now(); }

  // Waits for a change until `wake`; on the simulated base the clock jumps there instead.
  void WaitUntil(std::unique_lock<std::mutex>& lock, Clock::time_point wake) const {
    if (simulated) {
      simulated_now = std::max(simulated_now, wake);
      return;
    }
    changed.wait_until(lock, wake);
  }

  std::size_t OpenHandles() const {
    std::size_t count = 0;
    for (const Device& d : devices) count += d.handles.size();
    return count;
  }

  Device* Find(DeviceId id) {
    for (Device& d : devices) {
      if (d.id == id) return &d;
    }
    return nullptr;
  }
  const Device* Find(DeviceId id) const { return const_cast<State*>(this)->Find(id); }
};

namespace {

class EmulatedHandle : public HidDevice {
 public:
  EmulatedHandle(std::shared_ptr<EmulatedHidSystem::State> state, EmulatedHidSystem::DeviceId id,
                 std::shared_ptr<HandleQueue> queue)
      : state_(std::move(state)), id_(id), queue_(std::move(queue)) {}

  ~EmulatedHandle() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Device* device = state_->Find(id_)) {
      auto& handles = device->handles;
      handles.erase(std::remove(handles.begin(), handles.end(), queue_), handles.end());
    }
    state_->changed.notify_all();
  }

  bool WriteReport(const std::uint8_t (&report)[kReportSize]) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (queue_->failed) return false;
    Device* device = state_->Find(id_);
    if (device != nullptr && device->writes_fail) return false;
    if (device == nullptr || !device->simulated) return true;  // a foreign device: accepted

    std::vector<InputReport> answers;
    device->simulated->OnOutputReport(report, &answers);
    if (answers.empty()) return true;
    const Clock::time_point now = state_->Now();
    for (const InputReport& answer : answers) {
      const Clock::time_point due = now + std::chrono::milliseconds(answer.delay_ms);
      for (const auto& handle : device->handles) {
        if (handle->failed) continue;
        // Reports keep their order: one sent after a late one arrives no earlier than it.
        const Clock::time_point after =
            handle->reports.empty() ? due : std::max(due, handle->reports.back().due);
        handle->reports.push_back(Pending{answer.bytes, after, answer.tag, now});
      }
    }
    state_->changed.notify_all();
    return true;
  }

  ReadResult ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) override {
    return Take(&report, timeout_ms);
  }

  // Dropped reports are not recorded as taken: nobody took them for an answer.
  ReadResult SkipReport(unsigned timeout_ms) override { return Take(nullptr, timeout_ms); }

  TimePoint Now() const override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->Now();
  }

  std::size_t DiscardPendingInput() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    // Only what has arrived: a report the device sends later is not known yet.
    const Clock::time_point now = state_->Now();
    std::size_t dropped = 0;
    for (; queue_->FrontReady(now); ++dropped) queue_->reports.pop_front();
    state_->changed.notify_all();
    return dropped;
  }

  bool GetAttributes(HidAttributes* attributes) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Device* device = Usable();
    if (device == nullptr || device->description.attributes_fail || attributes == nullptr) {
      return false;
    }
    attributes->vendor_id = device->description.vendor_id;
    attributes->product_id = device->description.product_id;
    attributes->version = device->description.version;
    return true;
  }

  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override {
    return QueryString(&Device::manufacturer_queries, &EmulatedDeviceDescription::manufacturer,
                       &EmulatedDeviceDescription::manufacturer_fails, buffer, bytes);
  }

  bool GetProductString(char16_t* buffer, std::size_t bytes) override {
    return QueryString(&Device::product_queries, &EmulatedDeviceDescription::product,
                       &EmulatedDeviceDescription::product_fails, buffer, bytes);
  }

 private:
  // Waits for the next report; copies and records it unless `report` is nullptr.
  ReadResult Take(std::uint8_t (*report)[kReportSize], unsigned timeout_ms) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const Clock::time_point deadline = state_->Now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (queue_->failed) return ReadResult::kFailed;
      const Clock::time_point now = state_->Now();
      if (queue_->FrontReady(now)) {
        const Pending& front = queue_->reports.front();
        Device* device = report != nullptr && state_->record_taken ? state_->Find(id_) : nullptr;
        if (report != nullptr) std::memcpy(*report, front.bytes.data(), kReportSize);
        if (device != nullptr) {
          const auto late =
              std::chrono::duration_cast<std::chrono::milliseconds>(front.due - front.produced);
          device->taken.push_back(
              TakenReport{queue_->number, front.tag, static_cast<unsigned>(late.count())});
        }
        queue_->reports.pop_front();
        return ReadResult::kOk;
      }
      if (now >= deadline) return ReadResult::kTimedOut;
      Clock::time_point wake = deadline;
      if (!queue_->reports.empty()) wake = std::min(wake, queue_->reports.front().due);
      state_->WaitUntil(lock, wake);
    }
  }

  // One string query: counted on the device (failed ones too), refused on a failed handle or
  // where the description makes this query fail.
  bool QueryString(std::size_t Device::*queries, std::u16string EmulatedDeviceDescription::*text,
                   bool EmulatedDeviceDescription::*fails, char16_t* buffer, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Device* queried = state_->Find(id_)) ++(queried->*queries);
    const Device* device = Usable();
    if (device == nullptr || device->description.*fails) return false;
    return CopyDeviceString(device->description.*text, buffer, bytes);
  }

  // The device behind this handle, or nullptr once the handle has failed. Lock held.
  const Device* Usable() const { return queue_->failed ? nullptr : state_->Find(id_); }

  std::shared_ptr<EmulatedHidSystem::State> state_;
  EmulatedHidSystem::DeviceId id_;
  std::shared_ptr<HandleQueue> queue_;
};

class EmulatedEnumeration : public HidEnumeration {
 public:
  struct Entry {
    std::string path;
    bool unreadable;
  };
  explicit EmulatedEnumeration(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  InterfaceStatus InterfacePath(unsigned index, std::string* path) override {
    if (index >= entries_.size()) return InterfaceStatus::kEnd;
    if (entries_[index].unreadable) return InterfaceStatus::kUnreadable;
    if (path != nullptr) *path = entries_[index].path;
    return InterfaceStatus::kFound;
  }

 private:
  std::vector<Entry> entries_;
};

}  // namespace

EmulatedHidSystem::EmulatedHidSystem(TimeBase base) : state_(std::make_shared<State>(base)) {}

EmulatedHidSystem::~EmulatedHidSystem() = default;

EmulatedHidSystem::DeviceId EmulatedHidSystem::AddDevice(
    const EmulatedDeviceDescription& description, std::shared_ptr<SimulatedDevice> device) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const DeviceId id = state_->next_id++;
  state_->devices.push_back(Device{id, description, std::move(device), true, {}, 0, 0, false, {}});
  return id;
}

void EmulatedHidSystem::Plug(DeviceId id) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Device* device = state_->Find(id);
  if (device == nullptr || device->plugged) return;
  device->plugged = true;
  if (device->simulated) device->simulated->OnPlugged();
}

void EmulatedHidSystem::Unplug(DeviceId id) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Device* device = state_->Find(id);
  if (device == nullptr || !device->plugged) return;
  device->plugged = false;
  for (const auto& handle : device->handles) {
    handle->failed = true;
    handle->reports.clear();
  }
  state_->changed.notify_all();  // blocked reads fail at once
}

bool EmulatedHidSystem::IsPlugged(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device != nullptr && device->plugged;
}

std::size_t EmulatedHidSystem::OpenHandleCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->OpenHandles();
}

std::size_t EmulatedHidSystem::PeakOpenHandleCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->peak_open_handles;
}

void EmulatedHidSystem::ResetPeakOpenHandleCount() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->peak_open_handles = state_->OpenHandles();
}

std::size_t EmulatedHidSystem::ManufacturerQueryCount(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device == nullptr ? 0 : device->manufacturer_queries;
}

std::size_t EmulatedHidSystem::ProductQueryCount(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device == nullptr ? 0 : device->product_queries;
}

std::size_t EmulatedHidSystem::OpenHandleCount(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device == nullptr ? 0 : device->handles.size();
}

namespace {

std::size_t CountScheduled(const Device& device, Clock::time_point now) {
  std::size_t count = 0;
  for (const auto& handle : device.handles) {
    for (const Pending& p : handle->reports) {
      if (p.due > now) ++count;
    }
  }
  return count;
}

}  // namespace

std::size_t EmulatedHidSystem::ScheduledInputCount(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device == nullptr ? 0 : CountScheduled(*device, state_->Now());
}

bool EmulatedHidSystem::WaitUntilDelivered(DeviceId id, unsigned timeout_ms) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  const Clock::time_point deadline = state_->Now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const Device* device = state_->Find(id);
    const Clock::time_point now = state_->Now();
    if (device == nullptr || CountScheduled(*device, now) == 0) return true;
    if (now >= deadline) return false;
    Clock::time_point latest = now;
    for (const auto& handle : device->handles) {
      for (const Pending& p : handle->reports) latest = std::max(latest, p.due);
    }
    state_->WaitUntil(lock, std::min(deadline, latest));
  }
}

void EmulatedHidSystem::RecordTakenReports(bool on) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->record_taken = on;
  if (!on) {
    for (Device& d : state_->devices) std::vector<TakenReport>().swap(d.taken);
  }
}

std::vector<TakenReport> EmulatedHidSystem::TakenReports(DeviceId id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const Device* device = state_->Find(id);
  return device == nullptr ? std::vector<TakenReport>() : device->taken;
}

std::uint64_t EmulatedHidSystem::NextHandleNumber() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->next_handle;
}

void EmulatedHidSystem::SetWritesFail(DeviceId id, bool fail) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (Device* device = state_->Find(id)) device->writes_fail = fail;
}

HidDevice::TimePoint EmulatedHidSystem::Now() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->Now();
}

void EmulatedHidSystem::AdvanceClock(unsigned ms) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->simulated) state_->simulated_now += std::chrono::milliseconds(ms);
}

std::unique_ptr<HidEnumeration> EmulatedHidSystem::Enumerate() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<EmulatedEnumeration::Entry> entries;
  for (const Device& d : state_->devices) {
    if (d.plugged) entries.push_back({d.description.path, d.description.detail_fails});
  }
  return std::make_unique<EmulatedEnumeration>(std::move(entries));
}

std::unique_ptr<HidDevice> EmulatedHidSystem::Open(const std::string& path) {
  return OpenExplained(path, nullptr);
}

std::unique_ptr<HidDevice> EmulatedHidSystem::OpenExplained(const std::string& path,
                                                            std::string* reason) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (Device& d : state_->devices) {
    if (!d.plugged || d.description.path != path) continue;
    if (d.description.open_fails) {
      if (reason != nullptr) *reason = d.description.open_failure;
      return nullptr;
    }
    // Everything that can fail comes before the queue is listed: a handle that was never made
    // must not stay counted open, nor its queue held by the device.
    auto queue = std::make_shared<HandleQueue>();
    d.handles.reserve(d.handles.size() + 1);
    auto handle = std::make_unique<EmulatedHandle>(state_, d.id, queue);
    queue->number = state_->next_handle++;
    d.handles.push_back(std::move(queue));
    state_->peak_open_handles = std::max(state_->peak_open_handles, state_->OpenHandles());
    return handle;
  }
  if (reason != nullptr) *reason = "No such device";
  return nullptr;
}

bool EmulatedHidSystem::PeekIds(const std::string& path, HidAttributes* ids) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const Device& d : state_->devices) {
    if (!d.plugged || d.description.path != path) continue;
    ids->vendor_id = d.description.vendor_id;
    ids->product_id = d.description.product_id;
    ids->version = d.description.version;
    return true;
  }
  return false;
}

bool EmulatedHidSystem::PeekPlacement(const std::string& path, std::string* serial,
                                      std::string* location) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const Device& d : state_->devices) {
    if (!d.plugged || d.description.path != path) continue;
    if (serial != nullptr) *serial = NarrowDeviceString(d.description.serial);
    if (location != nullptr) *location = d.description.location;
    return true;
  }
  return false;
}

void EmulatedHidSystem::SetSetupFailure(const std::string& why) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->setup_failure = why;
}

std::string EmulatedHidSystem::SetupFailure() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->setup_failure;
}

InUse EmulatedHidSystem::InUseElsewhere(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const Device& d : state_->devices) {
    if (!d.plugged || d.description.path != path) continue;
    return d.handles.empty() ? InUse::kNo : InUse::kYes;
  }
  return InUse::kCannotTell;
}

}  // namespace platform
