// One owner for every handle-like value the platform opens (file descriptors and handles,
// C streams, registry keys, loaded modules), so that early returns and exceptions close
// what they hold and nothing is closed twice.
#pragma once

#include <utility>

namespace iniplugin::platform {

// `Traits` says what is owned and how it ends:
//   using Type = ...;                  the handle-like value, cheap to copy and compare
//   static Type Invalid();             the value that owns nothing
//   static bool Close(Type value);     closes a valid value; false when the close failed
template <class Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type owned) noexcept : m_value(owned) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : m_value(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return m_value; }
  bool Valid() const noexcept { return m_value != Traits::Invalid(); }
  explicit operator bool() const noexcept { return Valid(); }

  // Gives up ownership without closing.
  Type Release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
  // Closes what is held, not hearing whether that worked, and takes over `owned`. Where a
  // failed close can lose data (anything written to), call Close first.
  void Reset(Type owned = Traits::Invalid()) noexcept {
    const Type old = std::exchange(m_value, owned);
    if (old != Traits::Invalid()) (void)Traits::Close(old);
  }
  // Closes now and says whether the close succeeded: a failed close of something written
  // to can mean its last bytes never reached the disk. True when nothing was held.
  [[nodiscard]] bool Close() noexcept { return !Valid() || Traits::Close(Release()); }
  // Closes what is held and hands out the slot for an API that opens into it.
  Type* Receive() noexcept {
    Reset();
    return &m_value;
  }

 private:
  Type m_value = Traits::Invalid();
};

}  // namespace iniplugin::platform
