// Capture buffers for a new sample rate: allocated on the thread that sets
// the rate, taken up by a resume or the audio thread, which neither
// allocates nor frees, and freed later on a host thread again.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

// A pair of cleared capture buffers of `capacity` cells for `rate` Hz. Once
// adopted it carries the pair it replaced, until that is freed.
struct CaptureBuffers {
  int32_t rate = 0;
  int32_t capacity = 0;
  float* left = nullptr;
  float* right = nullptr;
  CaptureBuffers* next = nullptr;  // in the list of retired pairs

  // host thread: both buffers or nothing.
  static CaptureBuffers* allocate(int32_t rate, int32_t capacity) {
    auto* made = new (std::nothrow) CaptureBuffers;
    if (made == nullptr) return nullptr;
    made->rate = rate;
    made->capacity = capacity;
    made->left = new (std::nothrow) float[capacity]();
    made->right = new (std::nothrow) float[capacity]();
    if (made->left == nullptr || made->right == nullptr) {
      delete made;
      return nullptr;
    }
    return made;
  }
  ~CaptureBuffers() {
    delete[] left;
    delete[] right;
  }
};

// One prepared pair at most, and the pairs that adoptions replaced. While an
// adoption works on the pair it took, the slot holds a mark instead of
// nothing, so that a rate call can tell that the rate in use may be about to
// change.
class PreparedRate {
 public:
  PreparedRate() = default;
  PreparedRate(const PreparedRate&) = delete;
  PreparedRate& operator=(const PreparedRate&) = delete;
  ~PreparedRate() {
    free(prepared_.load());
    freeRetired();
  }

  // host thread (a rate call): `fresh` (null for none) becomes the prepared
  // pair; the one it replaces, if not taken yet, is freed, and so are the
  // retired ones.
  void prepare(CaptureBuffers* fresh) {
    freeRetired();
    free(prepared_.exchange(fresh, std::memory_order_acq_rel));
  }
  // host thread (a rate call): nothing is prepared any more; false when an
  // adoption had taken a pair and was still at work on it.
  bool withdraw() {
    freeRetired();
    CaptureBuffers* const was =
        prepared_.exchange(nullptr, std::memory_order_acq_rel);
    free(was);
    return was != takenMark();
  }

  // audio side: whether a pair waits; one relaxed load, for every block.
  bool waiting() const {
    CaptureBuffers* const slot = prepared_.load(std::memory_order_relaxed);
    return slot != nullptr && slot != takenMark();
  }
  // audio side: the prepared pair, now the caller's, or null. A pair taken
  // leaves the mark until `endTake`.
  CaptureBuffers* take() {
    CaptureBuffers* const pair =
        prepared_.exchange(takenMark(), std::memory_order_acq_rel);
    if (pair == nullptr) endTake();
    return pair == takenMark() ? nullptr : pair;
  }
  // audio side, once the pair taken is adopted (or found to be for the rate
  // in use): the mark goes, unless a rate call has replaced it.
  void endTake() {
    CaptureBuffers* mark = takenMark();
    prepared_.compare_exchange_strong(mark, nullptr, std::memory_order_release,
                                      std::memory_order_relaxed);
  }
  // audio side: a pair the caller no longer uses, freed at the next
  // `freeRetired`. Lock-free: the loop repeats only when a host thread took
  // the list in between.
  void retire(CaptureBuffers* pair) {
    CaptureBuffers* head = retired_.load(std::memory_order_relaxed);
    do {
      pair->next = head;
    } while (!retired_.compare_exchange_weak(
        head, pair, std::memory_order_release, std::memory_order_relaxed));
  }

  // host thread (suspend, a rate call, close): frees the retired pairs.
  void freeRetired() {
    CaptureBuffers* pair =
        retired_.exchange(nullptr, std::memory_order_acquire);
    while (pair != nullptr) delete std::exchange(pair, pair->next);
  }

 private:
  // Constant-initialised: no guard on the audio path.
  static inline CaptureBuffers takenMark_{};
  static CaptureBuffers* takenMark() { return &takenMark_; }
  static void free(CaptureBuffers* pair) {
    if (pair != takenMark()) delete pair;
  }

  std::atomic<CaptureBuffers*> prepared_{nullptr};
  std::atomic<CaptureBuffers*> retired_{nullptr};
};
