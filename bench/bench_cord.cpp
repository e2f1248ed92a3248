// Encode and decode throughput of a record-like structure of about 300 bytes.

#include <chrono>
#include <cstdio>

#include "cord/cord.hpp"

namespace {

using namespace morvik::cord;

struct Slot {
  Bytes recipient;
  Bytes wrapped_key;
  static constexpr auto cord_fields() { return std::tuple{&Slot::recipient, &Slot::wrapped_key}; }
};

using Matcher = std::variant<Unit<struct Any>, Tagged<struct Exact, std::vector<std::string>>>;

struct Body {
  Bytes id;
  std::string path;
  Matcher matcher;
  std::vector<Slot> slots;
  std::uint64_t counter;
  static constexpr auto cord_fields() {
    return std::tuple{&Body::id, &Body::path, &Body::matcher, &Body::slots, &Body::counter};
  }
};

struct Envelope {
  Evolving<std::variant<Body>> body;
  Bytes signing_public_key;
  Bytes signature;
  static constexpr auto cord_fields() {
    return std::tuple{&Envelope::body, &Envelope::signing_public_key, &Envelope::signature};
  }
};

Envelope sample() {
  Body body{Bytes(32, 1), "prod/database/password",
            Matcher{std::in_place_index<1>, Tagged<Exact, std::vector<std::string>>{{"prod", "database"}}},
            {Slot{Bytes(32, 2), Bytes(80, 3)}}, 12345};
  return Envelope{Evolving<std::variant<Body>>(std::variant<Body>(std::move(body))), Bytes(32, 4), Bytes(64, 5)};
}

template <class F>
double seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const Envelope value = sample();
  const Bytes encoded = *serialize(value);
  constexpr int rounds = 200'000;
  std::size_t sink = 0;
  const double encode_s = seconds([&] {
    for (int i = 0; i < rounds; ++i) sink += serialize(value)->size();
  });
  const double decode_s = seconds([&] {
    for (int i = 0; i < rounds; ++i) sink += deserialize<Envelope>(encoded)->signature.size();
  });
  const double megabytes = static_cast<double>(encoded.size()) * rounds / 1e6;
  std::printf("record of %zu bytes, %d rounds\n", encoded.size(), rounds);
  std::printf("encode: %8.1f MB/s\n", megabytes / encode_s);
  std::printf("decode: %8.1f MB/s\n", megabytes / decode_s);
  return sink == 0;
}
