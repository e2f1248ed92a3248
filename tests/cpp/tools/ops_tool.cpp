// Drives the secret binding formats, sealing and reading from the command
// line so that the Python suite can check them against an independent
// implementation. Arguments and results are lowercase hex, one result per
// line; a failure prints its text on stderr and exits with 1.
//
// Selectors, slots and fields are given as tagged items:
//   s:SEGMENT                  a path segment
//   l:KEY:VALUE                a label
//   r:READER:ENCAPSULATED:WRAPPED   a recipient slot
//   f:NAME:VALUE               a field
//
//   slot-binding ROOT SECRET_ID READER ITEMS...              -> binding bytes
//   content-aad ROOT SECRET_ID SIGNING_KEY COUNTER NONCE ITEMS... -> associated data (COUNTER in decimal)
//   seal PRIMARY ITEMS...     -> the record that alice writes into the secrets test vault
//   open SEED RECORD          -> the record added to that vault and read by the user of SEED:
//                                primary, then name and value of each field

#include <iostream>
#include <string>
#include <vector>

#include "ops/binding.hpp"
#include "ops/read_secret.hpp"
#include "support/cord/hex.hpp"
#include "support/ops/secrets_vault.hpp"

namespace {

using namespace morvik;
using morvik::testing::hex;
using morvik::testing::to_hex;

int failed(const std::string& text) {
  std::cerr << text << "\n";
  return 1;
}

std::string text_from_hex(std::string_view digits) {
  const auto bytes = hex(digits);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string_view> parts_of(std::string_view item) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t colon = item.find(':', at);
    parts.push_back(item.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at));
    if (colon == std::string_view::npos) return parts;
    at = colon + 1;
  }
}

struct Items {
  core::SecretSelectorV1 selector;
  std::vector<core::RecipientSlotV1> slots;
  core::SecretValueV1 value;
};

Items items_from(const std::vector<std::string>& args, std::size_t first) {
  Items items;
  for (std::size_t i = first; i < args.size(); ++i) {
    const auto parts = parts_of(args[i]);
    const std::string_view tag = parts.at(0);
    if (tag == "s") {
      items.selector.tuple.push_back(text_from_hex(parts.at(1)));
    } else if (tag == "l") {
      items.selector.labels.push_back({text_from_hex(parts.at(1)), text_from_hex(parts.at(2))});
    } else if (tag == "r") {
      items.slots.push_back({core::UserId{core::HashValue{hex(parts.at(1))}}, hex(parts.at(2)), hex(parts.at(3))});
    } else if (tag == "f") {
      const cord::Bytes value = hex(parts.at(2));
      items.value.fields.insert({text_from_hex(parts.at(1)), crypto::SecretBytes(value.begin(), value.end())});
    } else {
      throw std::invalid_argument("unknown item " + args[i]);
    }
  }
  return items;
}

int print(const ops::OpsResult<cord::Bytes>& bytes) {
  if (!bytes) return failed(bytes.error().message());
  std::cout << to_hex(*bytes) << "\n";
  return 0;
}

int run(const std::vector<std::string>& args) {
  const std::string& command = args.at(0);
  if (command == "slot-binding") {
    const auto items = items_from(args, 4);
    return print(ops::recipient_slot_binding_bytes(hex(args.at(1)), hex(args.at(2)), items.selector, hex(args.at(3))));
  }
  if (command == "content-aad") {
    const auto items = items_from(args, 6);
    const core::SecretId secret_id{core::HashValue{hex(args.at(2))}};
    const core::RecordKey record_key = core::record_key::Secret{secret_id};
    const auto signing_key = hex(args.at(3));
    const ops::SecretAadContext context{record_key, signing_key, secret_id, items.selector,
                                        std::stoull(args.at(4))};
    return print(
        ops::secret_content_aad_bytes(hex(args.at(1)), context, hex(args.at(5)), core::RecipientSlots(items.slots)));
  }
  if (command == "seal") {
    auto items = items_from(args, 2);
    const cord::Bytes primary = hex(args.at(1));
    items.value.primary.assign(primary.begin(), primary.end());
    testing::SecretsVault vault;
    return print(cord::serialize(vault.set(vault.alice(), items.selector, items.value)).value());
  }
  if (command == "open") {
    testing::SecretsVault vault;
    auto record = cord::deserialize<core::VaultRecordV1>(hex(args.at(2)));
    if (!record) return failed(record.error().message());
    const auto selector = testing::secret_of(*record).selector;
    vault.add(std::move(*record));
    const auto report = testing::validate_records(vault.store(), vault.fresh_ratchet());
    if (!report.issues.empty()) return failed("the record does not validate");
    const auto reader = testing::identity(static_cast<std::uint8_t>(std::stoi(args.at(1))));
    const auto read = ops::get_secret(report.state, testing::kCrypto, reader, selector);
    if (!read) return failed(read.error().message());
    std::cout << to_hex(read->primary) << "\n";
    for (const auto& field : read->fields) {
      std::cout << to_hex(cord::Bytes(field.name.begin(), field.name.end())) << "\n" << to_hex(field.value) << "\n";
    }
    return 0;
  }
  return failed("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return failed(e.what());
  }
}
