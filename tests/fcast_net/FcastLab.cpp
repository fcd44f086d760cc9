#include "tests/fcast_net/FcastLab.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/TempDir.h"

namespace ondavox::fcast_net {
namespace {

std::string Hex(const unsigned char* digest, unsigned int length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

}  // namespace

std::unique_ptr<FcastLab> FcastLab::Create(int hosts) {
  std::string error;
  auto lab = lab::NetworkLab::Create(hosts, &error);
  EXPECT_NE(lab, nullptr) << error;
  if (!lab) return nullptr;
  return std::unique_ptr<FcastLab>(new FcastLab(std::move(lab)));
}

bool FcastLab::WaitForMembership(int host) {
  return test::WaitFor(
      [&] {
        const lab::CommandResult groups = lab_->Run(host, {"ip", "maddress", "show", "dev", lab::NetworkLab::kDevice});
        return groups.output.find(std::string("inet  ") + kGroup) != std::string::npos;
      },
      std::chrono::seconds(10));
}

std::unique_ptr<lab::HostProcess> FcastLab::StartReceiver(int host, const std::filesystem::path& folder, int files,
                                                          int timeout_seconds) {
  std::filesystem::create_directories(folder);
  std::vector<std::string> argv = {ONDAVOX_FCAST_RECV, "--group", kGroup, "--port", std::to_string(kPort),
                                   "--dir", folder.string(), "--interface", lab::NetworkLab::Address(host),
                                   "--timeout", std::to_string(timeout_seconds)};
  if (files > 0) {
    argv.push_back("--files");
    argv.push_back(std::to_string(files));
  }
  std::string error;
  auto receiver = lab_->Start(host, argv, &error);
  EXPECT_NE(receiver, nullptr) << error;
  if (receiver) {
    EXPECT_TRUE(WaitForMembership(host)) << "fcast-recv did not join: " << receiver->Errors();
  }
  return receiver;
}

std::unique_ptr<lab::HostProcess> FcastLab::StartSender(int host, long rate_kbit, int rounds,
                                                        const std::vector<std::filesystem::path>& files) {
  std::vector<std::string> argv = {ONDAVOX_FCAST_SEND, "--group", kGroup, "--port", std::to_string(kPort),
                                   "--rate", std::to_string(rate_kbit), "--rounds", std::to_string(rounds),
                                   "--interface", lab::NetworkLab::Address(host)};
  for (const auto& file : files) argv.push_back(file.string());
  std::string error;
  auto sender = lab_->Start(host, argv, &error);
  EXPECT_NE(sender, nullptr) << error;
  return sender;
}

void PrintTo(const Completion& completion, std::ostream* out) {
  *out << "COMPLETE " << completion.name << " " << completion.size << " " << completion.digest;
}

std::vector<Completion> Completions(const std::string& output) {
  std::vector<Completion> completions;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    Completion completion;
    if (words >> word && word == "COMPLETE" && words >> completion.name >> completion.size >> completion.digest) {
      completions.push_back(completion);
    }
  }
  return completions;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return Hex(digest, length);
}

std::string Sha256HexOfFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  return Hex(digest, length);
}

std::string PatternBytes(std::uint64_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ondavox::fcast_net
