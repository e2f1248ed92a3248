#include "keychain/terminal.hpp"

#include <functional>

#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "keychain/passphrase.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::keychain {
namespace {

constexpr std::string_view kPrompt = "Passphrase for the test: ";

enum ChildOutcome { kOk = 0, kWrongResult = 10, kSettingsChanged = 11, kNoSettings = 12 };

bool same_settings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Runs the prompt in a child whose controlling terminal is a fresh
// pseudo-terminal. The child checks the result against `expected` (a line,
// or an error text after "error:") and that its terminal settings are the
// same afterwards.
struct Session {
  std::string shown_before_reply;
  std::string shown_after_reply;
  int outcome = -1;
};

std::string read_some(int master, std::size_t at_least) {
  std::string out;
  char buffer[256];
  while (out.size() < at_least) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

std::string read_rest(int master) {
  std::string out;
  char buffer[256];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return out;  // EIO once the child has closed its side
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

// What the child asks: the line, or "error:" and the error text.
using Ask = std::function<std::string()>;

std::string ask_terminal() {
  auto line = read_line_without_echo(kPrompt);
  return line ? std::string(line->begin(), line->end()) : "error:" + line.error();
}

Session run_prompt(std::string_view reply, const std::string& expected, std::string_view prompt = kPrompt,
                   const Ask& ask = ask_terminal) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    termios before{}, after{};
    if (::tcgetattr(STDIN_FILENO, &before) != 0) _exit(kNoSettings);
    const std::string got = ask();
    if (::tcgetattr(STDIN_FILENO, &after) != 0) _exit(kNoSettings);
    if (got != expected) _exit(kWrongResult);
    _exit(same_settings(before, after) ? kOk : kSettingsChanged);
  }
  Session session;
  session.shown_before_reply = read_some(master, prompt.size());
  (void)!::write(master, reply.data(), reply.size());
  session.shown_after_reply = read_rest(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  session.outcome = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return session;
}

TEST(TerminalPrompt, ShowsThePromptAndReadsTheReplyWithoutEcho) {
  const Session s = run_prompt("correct horse\n", "correct horse");
  EXPECT_EQ(s.outcome, kOk);
  EXPECT_EQ(s.shown_before_reply, kPrompt);
  // Only the line break written after the reply; the reply itself never
  // appears. The terminal turns it into CR LF.
  EXPECT_EQ(s.shown_after_reply, "\r\n");
}

TEST(TerminalPrompt, RestoresTheSettingsOnEveryWayOut) {
  struct Case {
    std::string reply;
    std::string expected;
  };
  const Case cases[] = {
      {"\n", ""},                                   // an empty line is a passphrase too
      {"pa\x7fx\n", "px"},                          // erase
      {"caf\xc3\xa9\x7f" "e\n", "cafe"},            // erase takes a whole UTF-8 character
      {"wrong\x15right\n", "right"},                // kill
      {"\x03", "error:operation interrupted"},      // interrupt character
      {"with\x04" "eof\r", "with\x04" "eof"},       // end-of-file key is an ordinary byte here
  };
  for (const Case& c : cases) {
    const Session s = run_prompt(c.reply, c.expected);
    EXPECT_EQ(s.outcome, kOk) << c.expected;
    EXPECT_EQ(s.shown_after_reply, "\r\n") << c.expected;
  }
}

KeychainRequest labelled_request() {
  return KeychainRequest::create(store::WorkspacePaths::from_vault_path("/w/.morvik/vault.cord"),
                                 core::HashValue{cord::Bytes(32, 1)}, core::UserId{core::HashValue{cord::Bytes(32, 2)}},
                                 key_use_purpose::Custom{"deploy"})
      .with_labels("payments", "ops");
}

std::string ask_provider() {
  auto passphrase = StdinPassphraseProvider{}.request_passphrase(labelled_request());
  return passphrase ? std::string(passphrase->begin(), passphrase->end()) : "error:" + passphrase.error().message();
}

TEST(StdinProvider, PromptsWithTheRequestsTextOnTheTerminal) {
  const std::string prompt = "Unlock Morvik keychain for user \"ops\" in project \"payments\" to deploy: ";
  const Session s = run_prompt(" spaced  \n", " spaced  ", prompt, ask_provider);
  EXPECT_EQ(s.outcome, kOk);
  EXPECT_EQ(s.shown_before_reply, prompt);
  EXPECT_EQ(s.shown_after_reply, "\r\n");
}

// Runs `ask` in a child that has left its session, so has no controlling
// terminal, and returns what it answered.
std::string answer_without_terminal(const Ask& ask) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::setsid();
    const std::string text = ask();
    (void)!::write(pipe_fds[1], text.data(), text.size());
    _exit(0);
  }
  ::close(pipe_fds[1]);
  const std::string text = read_rest(pipe_fds[0]);
  ::close(pipe_fds[0]);
  ::waitpid(pid, nullptr, 0);
  return text;
}

TEST(TerminalPrompt, FailsWithoutAControllingTerminal) {
  EXPECT_EQ(answer_without_terminal(ask_terminal), "error:No such device or address (os error 6)");
  EXPECT_EQ(answer_without_terminal(ask_provider),
            "error:passphrase provider failed: No such device or address (os error 6)");
}

}  // namespace
}  // namespace morvik::keychain
