#include "core/ratchet_records.hpp"

#include "core/overloaded.hpp"

namespace morvik::core {
namespace {

template <class T>
const T* origin_as(const KeyOrigin* origin) {
  return origin ? std::get_if<T>(origin) : nullptr;
}

}  // namespace

std::optional<RecordKey> ratchet_record_key(const RatchetRecordV1& record) {
  return std::visit(
      Overloaded{
          [](const UserRatchetRecordV1& r) -> std::optional<RecordKey> { return record_key::User{r.user_id}; },
          [](const UserHandleRatchetRecordV1& r) -> std::optional<RecordKey> {
            return record_key::UserHandle{r.handle_id};
          },
          [](const VaultHandleRatchetRecordV1& r) -> std::optional<RecordKey> {
            return record_key::VaultHandle{r.handle_id};
          },
          [](const GroupRatchetRecordV1& r) -> std::optional<RecordKey> { return record_key::Group{r.group_id}; },
          [](const GroupMemberRatchetRecordV1& r) -> std::optional<RecordKey> {
            return record_key::GroupMember{r.group_member_id};
          },
          [](const GrantRatchetRecordV1& r) -> std::optional<RecordKey> { return record_key::Grant{r.grant_id}; },
          [](const SecretRatchetRecordV1& r) -> std::optional<RecordKey> { return record_key::Secret{r.secret_id}; },
          [](const EntryPointRatchetRecordV1& r) -> std::optional<RecordKey> {
            return record_key::EntryPoint{r.user_id};
          },
          [](const ratchet_record::FormatVersion&) -> std::optional<RecordKey> { return std::nullopt; },
          [](const TrustedRootRatchetRecordV1&) -> std::optional<RecordKey> { return std::nullopt; },
      },
      record);
}

std::optional<KeyOrigin> ratchet_record_origin(const RatchetRecordV1& record) {
  return std::visit(
      Overloaded{
          [](const UserHandleRatchetRecordV1& r) -> std::optional<KeyOrigin> {
            if (r.handle.empty()) return std::nullopt;
            return key_origin::UserHandle{r.handle};
          },
          [](const VaultHandleRatchetRecordV1& r) -> std::optional<KeyOrigin> {
            if (r.handle.empty()) return std::nullopt;
            return key_origin::VaultHandle{r.handle};
          },
          [](const GroupMemberRatchetRecordV1& r) -> std::optional<KeyOrigin> {
            if (!r.origin) return std::nullopt;
            return KeyOrigin(*r.origin);
          },
          [](const SecretRatchetRecordV1& r) -> std::optional<KeyOrigin> {
            // Only the tuple marks an origin: labels alone do not.
            if (r.selector.tuple.empty()) return std::nullopt;
            return KeyOrigin(r.selector);
          },
          [](const auto&) -> std::optional<KeyOrigin> { return std::nullopt; },
      },
      record);
}

std::optional<RatchetRecordV1> ratchet_record_for_key(const RecordKey& key, std::uint64_t counter,
                                                      const KeyOrigin* origin) {
  return std::visit(
      Overloaded{
          [](const record_key::VaultRoot&) -> std::optional<RatchetRecordV1> { return std::nullopt; },
          [&](const record_key::EntryPoint& k) -> std::optional<RatchetRecordV1> {
            return EntryPointRatchetRecordV1{k.user_id, counter};
          },
          [&](const record_key::User& k) -> std::optional<RatchetRecordV1> {
            return UserRatchetRecordV1{k.user_id, counter};
          },
          [&](const record_key::UserHandle& k) -> std::optional<RatchetRecordV1> {
            const auto* handle = origin_as<key_origin::UserHandle>(origin);
            return UserHandleRatchetRecordV1{k.handle_id, counter, handle ? handle->value : std::string()};
          },
          [&](const record_key::Group& k) -> std::optional<RatchetRecordV1> {
            return GroupRatchetRecordV1{k.group_id, counter};
          },
          [&](const record_key::GroupMember& k) -> std::optional<RatchetRecordV1> {
            const auto* input = origin_as<key_origin::GroupMember>(origin);
            return GroupMemberRatchetRecordV1{k.group_member_id, counter,
                                              input ? std::optional(*input) : std::nullopt};
          },
          [&](const record_key::Grant& k) -> std::optional<RatchetRecordV1> {
            return GrantRatchetRecordV1{k.grant_id, counter};
          },
          [&](const record_key::Secret& k) -> std::optional<RatchetRecordV1> {
            const auto* selector = origin_as<key_origin::Secret>(origin);
            return SecretRatchetRecordV1{k.secret_id, counter, selector ? *selector : SecretSelectorV1{}};
          },
          [&](const record_key::VaultHandle& k) -> std::optional<RatchetRecordV1> {
            const auto* handle = origin_as<key_origin::VaultHandle>(origin);
            return VaultHandleRatchetRecordV1{k.handle_id, counter, handle ? handle->value : std::string()};
          },
      },
      key);
}

}  // namespace morvik::core
