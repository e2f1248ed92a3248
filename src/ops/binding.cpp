#include "ops/binding.hpp"

namespace morvik::ops {
namespace {

cord::Bytes copy_of(cord::ByteView bytes) { return cord::Bytes(bytes.begin(), bytes.end()); }

template <class T>
OpsResult<cord::Bytes> encoded(const T& value) {
  auto bytes = cord::serialize(value);
  if (!bytes) return fail(std::move(bytes.error()));
  return std::move(*bytes);
}

}  // namespace

OpsResult<cord::Bytes> secret_content_aad_bytes(cord::ByteView vault_root_id, const SecretAadContext& context,
                                                cord::ByteView nonce,
                                                const core::RecipientSlots& recipient_slots) {
  return encoded(SecretContentAadV1{copy_of(vault_root_id), context.record_key, copy_of(context.signing_public_key),
                                    context.counter, copy_of(context.secret_id.hash.bytes), context.selector.tuple,
                                    context.selector.labels, copy_of(nonce), recipient_slots});
}

OpsResult<cord::Bytes> recipient_slot_binding_bytes(cord::ByteView vault_root_id, cord::ByteView secret_id,
                                                    const core::SecretSelectorV1& selector, cord::ByteView reader) {
  return encoded(RecipientSlotBindingV1{copy_of(vault_root_id), copy_of(secret_id), selector.tuple, selector.labels,
                                        copy_of(reader)});
}

}  // namespace morvik::ops
