#include "support/ops/record_names.hpp"

#include <variant>

namespace morvik::ops::testing {

namespace {

// In wire order.
constexpr const char* kKindNames[] = {"VaultRoot",    "EntryPoint",  "User",
                                      "UserHandle",   "Group",       "GroupDeleted",
                                      "GroupMember",  "GroupMemberDeleted", "Grant",
                                      "GrantDeleted", "UserDeleted", "Secret",
                                      "SecretDeleted", "VaultHandle"};

}  // namespace

std::string record_name(const core::VaultRecordV1& record) {
  const core::RecordBodyV1* body = record.body.known();
  if (body == nullptr) return "unknown kind";
  std::string name = kKindNames[body->index()];
  std::visit(
      [&](const auto& kind) {
        if constexpr (requires { kind.selector.tuple; }) {
          for (std::size_t i = 0; i < kind.selector.tuple.size(); ++i) {
            name += (i == 0 ? " " : "/") + kind.selector.tuple[i].str();
          }
        }
      },
      *body);
  if (auto counter = core::body_counter(*body)) name += " at " + std::to_string(*counter);
  return name;
}

}  // namespace morvik::ops::testing
