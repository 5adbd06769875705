// The property exchange: one routine per control names its persistent values in order, and the
// same routine loads, saves or resets them through whichever medium the container chose.
//
// A stream (IPersistStreamInit, and the "Contents" stream of IPersistStorage) holds the values
// as consecutive 32-bit little-endian numbers in exchange order; a property bag holds them by
// name as VT_I4.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <string>
#include <vector>

namespace ole {

class PropExchange {
 public:
  enum class Mode { kLoad, kSave, kReset };

  explicit PropExchange(Mode mode) : mode_(mode) {}
  virtual ~PropExchange() = default;
  PropExchange(const PropExchange&) = delete;
  PropExchange& operator=(const PropExchange&) = delete;

  Mode mode() const { return mode_; }
  bool IsLoading() const { return mode_ != Mode::kSave; }

  // Saving writes *value; loading reads it, leaving `default_value` when the medium has no
  // such value; resetting sets `default_value`. False once the medium has failed.
  virtual bool ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) = 0;

  // The first failure of the medium (S_OK while none).
  HRESULT result() const { return result_; }

 protected:
  void Fail(HRESULT hr) {
    if (SUCCEEDED(result_)) result_ = hr;
  }

 private:
  Mode mode_;
  HRESULT result_ = S_OK;
};

class ResetPropExchange : public PropExchange {
 public:
  ResetPropExchange() : PropExchange(Mode::kReset) {}
  bool ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) override;
};

class StreamPropExchange : public PropExchange {
 public:
  StreamPropExchange(IStream* stream, Mode mode) : PropExchange(mode), stream_(stream) {}
  bool ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) override;

 private:
  IStream* stream_;
};

class BagPropExchange : public PropExchange {
 public:
  BagPropExchange(IPropertyBag* bag, IErrorLog* log, Mode mode)
      : PropExchange(mode), bag_(bag), log_(log) {}
  bool ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) override;

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
};

// Counts the bytes a stream exchange would write, for GetSizeMax.
class SizePropExchange : public PropExchange {
 public:
  SizePropExchange() : PropExchange(Mode::kSave) {}
  bool ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) override;
  ULONG bytes() const { return bytes_; }

 private:
  ULONG bytes_ = 0;
};

// The name of the stream that IPersistStorage keeps the state in.
inline constexpr wchar_t kContentsStreamName[] = L"Contents";

}  // namespace ole
