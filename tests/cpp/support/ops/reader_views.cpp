#include "support/ops/reader_views.hpp"

#include "support/core/vault_factory.hpp"
#include "support/ops/fixture_result.hpp"

namespace morvik::ops::testing {

namespace {

std::string text_of(const crypto::SecretBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

SecretRead read_of(const UnlockedSession& session, const core::SecretSelectorV1& selector) {
  auto plaintext = session.get_secret(morvik::testing::kCrypto, selector);
  if (!plaintext) return SecretRead{false, plaintext.error().message()};
  std::string text = text_of(plaintext->primary);
  for (const SecretField& field : plaintext->fields) text += " " + field.name + "=" + text_of(field.value);
  return SecretRead{true, std::move(text)};
}

}  // namespace

VaultView view_as_readers(LockedSession session, const std::vector<NamedReader>& readers,
                          const std::vector<NamedSecret>& secrets) {
  const bool refused_to_all = !session.report.issues.empty();
  VaultView view;
  for (const NamedReader& reader : readers) {
    if (refused_to_all && &reader != &readers.back()) continue;
    ReaderView& seen = view[reader.name];
    auto identity =
        expect_ok(crypto::Identity::from_master_seed(morvik::testing::kCrypto, reader.identity->master_seed));
    LockedSession opened = &reader == &readers.back() ? std::move(session) : session;
    auto unlocked = UnlockedSession::with_identity(std::move(opened), morvik::testing::kCrypto, std::move(identity));
    if (!unlocked) {
      seen.refused = unlocked.error().message();
      continue;
    }
    for (const NamedSecret& secret : secrets) seen.reads[secret.name] = read_of(*unlocked, secret.selector);
  }
  if (refused_to_all) {
    for (const NamedReader& reader : readers) view[reader.name] = view[readers.back().name];
  }
  return view;
}

std::vector<std::string> values_not_in(const VaultView& seen, const VaultView& expected) {
  std::vector<std::string> found;
  for (const auto& [reader, view] : seen) {
    for (const auto& [secret, read] : view.reads) {
      if (!read.read) continue;
      const SecretRead* allowed = nullptr;
      if (auto r = expected.find(reader); r != expected.end()) {
        if (auto s = r->second.reads.find(secret); s != r->second.reads.end()) allowed = &s->second;
      }
      if (allowed && allowed->read && allowed->text == read.text) continue;
      found.push_back(reader + " read " + secret + " as \"" + read.text + "\" where it " +
                      (allowed == nullptr ? std::string("could not open the vault")
                       : allowed->read    ? "reads \"" + allowed->text + "\""
                                          : "gets \"" + allowed->text + "\""));
    }
  }
  return found;
}

}  // namespace morvik::ops::testing
