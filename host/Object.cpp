#include "host/Object.h"

#include <cstdio>

namespace {
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_surplus{0};
}  // namespace

RefObject::RefObject() { g_live.fetch_add(1); }
RefObject::~RefObject() { g_live.fetch_sub(1); }

void RefObject::Recycle() {
  int32_t before = refs_.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 1) {
    delete this;
  } else if (before <= 0) {
    // Giving back more than was handed out: keep the object (it may still be
    // in use elsewhere) and count the fault.
    refs_.fetch_add(1);
    g_surplus.fetch_add(1);
    std::fprintf(stderr, "host: object given back more often than it was handed out\n");
  }
}

int64_t RefObject::LiveObjects() { return g_live.load(); }
int64_t RefObject::SurplusRecycles() { return g_surplus.load(); }
