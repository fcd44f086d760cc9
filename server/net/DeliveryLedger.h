#pragma once

#include <cstddef>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "server/data/CDocInfo.h"

namespace ondavox::server {

// Who holds which of the recent transfers: the Fcast sender enters each transfer as it starts
// (the last kKeptTransfers are kept), and each delivery receipt (RECEIVED) a logged-in client
// sends is checked against the file the server sent (its size, and its SHA-256, computed once
// per transfer at the first receipt) and recorded with its time. Kept in memory for the life of
// the server; a new server starts with none.
//
// Any thread: TransferStarted and TransferAbandoned on the Fcast sender thread, Record on
// connection threads (never under the server data lock: hashing a large file takes a while),
// Transfers on any thread.
class DeliveryLedger {
 public:
  static constexpr std::size_t kKeptTransfers = 32;

  struct Holder {
    std::string login;
    std::time_t when = 0;
  };
  struct Transfer {
    CDocInfo entry;
    long long size = 0;
    std::vector<Holder> holders;  // in the order their receipts came
  };
  enum class Receipt { kRecorded, kUnknownFile, kWrongSize, kWrongDigest };

  // |entry|'s file, of |size| bytes, is about to be sent: entered before its first datagram
  // leaves, since a small file's receipts may come back at once.
  void TransferStarted(const CDocInfo& entry, long long size) EXCLUDES(mu_);
  // The transfer of |entry| just entered did not start after all: it is no longer kept.
  void TransferAbandoned(const CDocInfo& entry) EXCLUDES(mu_);
  // |login| says it holds |fileName| with |size| bytes and the digest |sha256Hex| (lowercase
  // hex). The file is the latest transfer of that name. A receipt already recorded for the
  // login and that transfer keeps its first time.
  Receipt Record(const std::string& login, const std::string& fileName, long long size,
                 const std::string& sha256Hex, std::time_t when) EXCLUDES(mu_);
  // The kept transfers, the latest first.
  std::vector<Transfer> Transfers() const EXCLUDES(mu_);

 private:
  // A kept transfer with its digest, computed once, by the first receipt that needs it.
  struct Kept;

  mutable Mutex mu_;
  std::deque<std::shared_ptr<Kept>> kept_ GUARDED_BY(mu_);  // latest first
};

}  // namespace ondavox::server
