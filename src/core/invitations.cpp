#include "core/invitations.hpp"

namespace morvik::core {

InvitationMaterial InvitationMaterial::from_invite(Invite invite) {
  if (auto* v1 = std::get_if<InviteV1>(&invite)) {
    return InvitationMaterial{std::move(v1->master_seed), std::move(v1->trusted_root),
                              std::move(v1->baseline.records)};
  }
  auto& v2 = std::get<InviteV2>(invite);
  std::optional<std::vector<RatchetRecordV1>> baseline;
  if (v2.baseline) baseline = std::move(v2.baseline->records);
  return InvitationMaterial{std::move(v2.master_seed), std::move(v2.trusted_root), std::move(baseline)};
}

}  // namespace morvik::core
