#pragma once
// Zero-filled memory for pictures (bitmaps, device surfaces), move-only.
// Large blocks given back are kept for a while and handed to the next request
// of the same size, cleared: a show that readies a screen-sized picture for
// every slide does not make the system map and clear fresh pages for each.
#include <cstddef>
#include <cstdint>

namespace plat {

class PictureMemory {
public:
  PictureMemory() = default;
  // Bytes zero-filled; std::bad_alloc when the memory cannot be had.
  explicit PictureMemory(std::size_t bytes);
  ~PictureMemory() { Release(); }
  PictureMemory(PictureMemory&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  PictureMemory& operator=(PictureMemory&& other) noexcept;
  PictureMemory(const PictureMemory&) = delete;
  PictureMemory& operator=(const PictureMemory&) = delete;

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::uint8_t& operator[](std::size_t i) { return data_[i]; }
  const std::uint8_t& operator[](std::size_t i) const { return data_[i]; }
  // Gives the memory back; empty afterwards.
  void Release();

private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Blocks of at least kPictureMemoryKeptFrom bytes are kept when given back,
// kPictureMemoryKeptBytes in all at most (the oldest go first).
constexpr std::size_t kPictureMemoryKeptFrom = std::size_t{1} << 20;
constexpr std::size_t kPictureMemoryKeptBytes = std::size_t{320} << 20;

// What is kept now, and how many requests were answered from it (tests).
struct PictureMemoryStats {
  std::size_t KeptBytes = 0;
  std::size_t KeptBlocks = 0;
  std::uint64_t Reused = 0;
};
PictureMemoryStats GetPictureMemoryStats();
// The bytes of every picture and surface held now, kept blocks included:
// what pictures take, as they are made and given back.
std::int64_t PictureMemoryBytes();
// Asked before fresh memory of at least kPictureMemoryGateFrom bytes is
// taken for a picture; it may raise, and then nothing is taken. Nil: none.
using PictureMemoryGate = void (*)(std::size_t bytes);
constexpr std::size_t kPictureMemoryGateFrom = std::size_t{1} << 20;
void SetPictureMemoryGate(PictureMemoryGate gate);
// Frees every kept block (a show closed, the end of the program).
void TrimPictureMemory();

}  // namespace plat
