#include "core/ratchet_records.hpp"

#include <type_traits>
#include <utility>

#include "core/overloaded.hpp"

namespace morvik::core {
namespace {

template <class T>
const T* origin_as(const KeyOrigin* origin) {
  return origin ? std::get_if<T>(origin) : nullptr;
}

}  // namespace

namespace {

// `record` is a const lvalue or an rvalue of RatchetRecordV1: what is taken
// from it is copied or moved accordingly.
template <class Record>
std::optional<RecordKey> key_of(Record&& record) {
  return std::visit(
      []<class R>(R&& r) -> std::optional<RecordKey> {
        using T = std::remove_cvref_t<R>;
        if constexpr (std::is_same_v<T, UserRatchetRecordV1>) {
          return record_key::User{std::forward<R>(r).user_id};
        } else if constexpr (std::is_same_v<T, UserHandleRatchetRecordV1>) {
          return record_key::UserHandle{std::forward<R>(r).handle_id};
        } else if constexpr (std::is_same_v<T, VaultHandleRatchetRecordV1>) {
          return record_key::VaultHandle{std::forward<R>(r).handle_id};
        } else if constexpr (std::is_same_v<T, GroupRatchetRecordV1>) {
          return record_key::Group{std::forward<R>(r).group_id};
        } else if constexpr (std::is_same_v<T, GroupMemberRatchetRecordV1>) {
          return record_key::GroupMember{std::forward<R>(r).group_member_id};
        } else if constexpr (std::is_same_v<T, GrantRatchetRecordV1>) {
          return record_key::Grant{std::forward<R>(r).grant_id};
        } else if constexpr (std::is_same_v<T, SecretRatchetRecordV1>) {
          return record_key::Secret{std::forward<R>(r).secret_id};
        } else if constexpr (std::is_same_v<T, EntryPointRatchetRecordV1>) {
          return record_key::EntryPoint{std::forward<R>(r).user_id};
        } else {
          static_assert(std::is_same_v<T, ratchet_record::FormatVersion> ||
                        std::is_same_v<T, TrustedRootRatchetRecordV1>);
          return std::nullopt;
        }
      },
      std::forward<Record>(record));
}

template <class Record>
std::optional<KeyOrigin> origin_of(Record&& record) {
  return std::visit(
      []<class R>(R&& r) -> std::optional<KeyOrigin> {
        using T = std::remove_cvref_t<R>;
        if constexpr (std::is_same_v<T, UserHandleRatchetRecordV1>) {
          if (r.handle.empty()) return std::nullopt;
          return key_origin::UserHandle{std::forward<R>(r).handle};
        } else if constexpr (std::is_same_v<T, VaultHandleRatchetRecordV1>) {
          if (r.handle.empty()) return std::nullopt;
          return key_origin::VaultHandle{std::forward<R>(r).handle};
        } else if constexpr (std::is_same_v<T, GroupMemberRatchetRecordV1>) {
          if (!r.origin) return std::nullopt;
          return KeyOrigin(*std::forward<R>(r).origin);
        } else if constexpr (std::is_same_v<T, SecretRatchetRecordV1>) {
          // Only the tuple marks an origin: labels alone do not.
          if (r.selector.tuple.empty()) return std::nullopt;
          return KeyOrigin(std::forward<R>(r).selector);
        } else {
          return std::nullopt;
        }
      },
      std::forward<Record>(record));
}

}  // namespace

std::optional<RecordKey> ratchet_record_key(const RatchetRecordV1& record) { return key_of(record); }
std::optional<RecordKey> ratchet_record_key(RatchetRecordV1&& record) { return key_of(std::move(record)); }

std::optional<KeyOrigin> ratchet_record_origin(const RatchetRecordV1& record) { return origin_of(record); }
std::optional<KeyOrigin> ratchet_record_origin(RatchetRecordV1&& record) { return origin_of(std::move(record)); }

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
