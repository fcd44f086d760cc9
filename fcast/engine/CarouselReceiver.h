#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fcast/engine/DatagramBacklog.h"
#include "fcast/engine/Ed25519.h"
#include "fcast/engine/IncomingFile.h"
#include "fcast/engine/Packet.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {

struct ReceiverOptions {
  std::string group;
  std::uint16_t port = 0;
  std::string folder;     // download folder, created when missing
  std::string interface;  // IPv4 address of the receiving interface; empty: the system's choice
  // A file that stored fewer than IncomingFile::kProgressSymbols symbols for this long makes
  // way, and gives back its disk space, when another file needs them.
  std::chrono::milliseconds stallTime{5000};
  // Ed25519 public key that must sign the descriptors; empty: unsigned ones are taken too.
  std::vector<std::uint8_t> trustedKey;
  // IPv4 address (dotted) whose datagrams alone are read; empty: any.
  std::string source;
};

// What the receiver reports: a code of FcastEventCode with its error, file and digest.
struct ReceiverEvent {
  long code = 0;
  long error = 0;
  std::uint32_t fileId = 0;
  std::int64_t size = 0;
  std::string name;
  Sha256Digest sha256{};
};

struct ReceiverStatistics {
  std::int64_t datagrams = 0;
  std::int64_t rejected = 0;   // failed parsing (length, CRC, fields)
  std::int64_t stray = 0;      // dropped unread: not from the source set
  std::int64_t heldBytes = 0;  // receiving state of the files in progress
};

// The file a receiver is receiving: the one that stored a symbol last, while it is not stalled.
// Empty (no name, no symbols) when no file is coming in.
struct ReceiverProgress {
  std::uint32_t fileId = 0;
  std::string name;
  std::int64_t size = 0;
  std::uint64_t symbolsHeld = 0;
  std::uint64_t symbolsNeeded = 0;
};

// Receives the files of one multicast group into a download folder, on its own thread: reads
// datagrams in batches (recvmmsg), checks each, hands symbols to the IncomingFile of their file
// (made from the file's descriptor after the disk-space check; symbols that come before their
// file's first descriptor wait in a bounded queue for it), and reports FCASTRE_FILE_START,
// FCASTRE_FILE_COMPLETE, FCASTRE_ERROR and FCASTRE_FATAL_ERROR through the event callback,
// which runs on the receiver's thread. The files' receiving state is charged to a budget of
// kMaxHeldBytes; a stalled file makes way for another. A file that completed or was refused is
// not received again from the same sender run (its file id is remembered).
//
// With a trusted key, a descriptor counts only when that key signed it: any other is reported
// (kFcastErrorUnauthenticated, once per file id) and otherwise ignored, without a slot, memory,
// disk space or a mark on its file id, which the genuine sender may be using. With a source,
// datagrams from any other address are dropped before they are read (kFcastErrorStraySource,
// once per address).
//
// Create, Start and destruction from one controlling thread; SetTrustedKey and SetSource from
// any thread, at any time.
class CarouselReceiver {
 public:
  using EventSink = std::function<void(const ReceiverEvent&)>;

  // The most bytes of receiving state that the files in progress hold together: block state,
  // stand-ins and buffers (fcast/README.md).
  static constexpr std::uint64_t kMaxHeldBytes = std::uint64_t{40} << 20;

  // A receiver bound to the group, or why the options or the socket fail. Removes the
  // temporary files that receivers stopped by a signal left in the folder.
  static StatusOr<std::unique_ptr<CarouselReceiver>> Create(const ReceiverOptions& options,
                                                            EventSink sink);
  ~CarouselReceiver();
  CarouselReceiver(const CarouselReceiver&) = delete;
  CarouselReceiver& operator=(const CarouselReceiver&) = delete;

  // Starts the thread; later calls do nothing.
  void Start();
  // The Ed25519 public key that must sign the descriptors from the next batch of datagrams on;
  // empty: any descriptor counts. Files in progress forget a digest that the key did not sign.
  // InvalidArgument for a key of another size. Any thread.
  Status SetTrustedKey(std::span<const std::uint8_t> publicKey) EXCLUDES(settingsMu_);
  // The IPv4 address (dotted) whose datagrams alone are read from the next batch on; empty:
  // any. InvalidArgument for text that is not an address. Any thread.
  Status SetSource(const std::string& address) EXCLUDES(settingsMu_);
  const ReceiverOptions& Options() const { return options_; }
  ReceiverStatistics Statistics() const;
  // Published by the receiver's thread after each batch of datagrams, and at least every
  // half second. Any thread.
  ReceiverProgress Progress() const EXCLUDES(progressMu_);

 private:
  CarouselReceiver(const ReceiverOptions& options, EventSink sink, Socket socket, UniqueFd wake);
  void Run();
  // Takes the trusted key and source set since the last batch.
  void TakeSettings() EXCLUDES(settingsMu_);
  // True when a datagram from |from| may be read; reports a stray address the first time.
  bool FromSource(const sockaddr_in& from, socklen_t length);
  // Handles a datagram read from the socket: checks its source and size, then Handle.
  void Take(std::span<const std::uint8_t> bytes, const sockaddr_in& from, socklen_t fromLength,
            bool truncated);
  void Handle(std::span<const std::uint8_t> datagram);
  void OnDescriptor(const DescriptorPacket& descriptor, std::span<const std::uint8_t> datagram);
  // True when the trusted key signed the descriptor |datagram|; a datagram met lately is not
  // verified again.
  bool Authentic(std::span<const std::uint8_t> datagram, const DescriptorPacket& descriptor);
  void ReportUnauthenticated(const DescriptorPacket& descriptor);
  // Drops a file in progress that the trusted key signed no descriptor of, reporting it,
  // without remembering its id.
  void Discard(std::uint32_t fileId);
  // Takes the digest from a descriptor of a file in progress, finishing a whole file.
  void LearnDigest(const DescriptorPacket& descriptor);
  // The descriptor's layout, when this receiver can rebuild its blocks.
  static std::optional<FileLayout> ReceivableLayout(const DescriptorPacket& descriptor);
  // Room for a file of |layout| beside those in progress, in slots, blocks and disk space,
  // evicting stalled files; false when there is none yet.
  bool MakeRoomFor(const FileLayout& layout);
  // The file in progress that made no progress for the longest, when it is stalled.
  std::optional<std::uint32_t> Stalled() const;
  // Disk space promised to the files in progress.
  std::uint64_t Reserved() const;
  // Creates the file's IncomingFile, reports its start or its refusal, and hands it the
  // symbols that came before the descriptor.
  void StartFile(const DescriptorPacket& descriptor, const FileLayout& layout);
  void DeliverEarlySymbols(std::uint32_t fileId);
  void OnSymbol(const SymbolPacket& symbol, std::span<const std::uint8_t> datagram);
  void Deliver(const SymbolPacket& symbol);
  bool Finished(std::uint32_t fileId) const;
  void Complete(std::uint32_t fileId);
  void Fail(std::uint32_t fileId, long error);
  void Forget(std::uint32_t fileId);
  // Publishes the progress of the current file, or none.
  void PublishProgress() EXCLUDES(progressMu_);
  // Withdraws |fileId|'s progress when it is the current file, before its end is reported, so
  // that no one who heard of the end still sees it coming in.
  void EndProgress(std::uint32_t fileId) EXCLUDES(progressMu_);
  void Emit(long code, long error, std::uint32_t fileId, std::int64_t size, std::string name,
            const Sha256Digest& sha256 = {});

  const ReceiverOptions options_;
  const EventSink sink_;
  Socket socket_;
  const UniqueFd wake_;  // eventfd that ends the thread's wait
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> datagrams_{0};
  std::atomic<std::int64_t> rejected_{0};
  std::atomic<std::int64_t> stray_{0};
  MemoryBudget budget_{kMaxHeldBytes};
  WideDecoder decoder_;  // rebuilds the blocks of every file, one at a time
  // The datagrams read while a block is rebuilt, handled before the socket is read again.
  DatagramBacklog backlog_;
  mutable Mutex progressMu_;
  ReceiverProgress progress_ GUARDED_BY(progressMu_);
  Mutex settingsMu_;
  std::optional<Ed25519PublicKey> trustedKeySetting_ GUARDED_BY(settingsMu_);
  std::optional<std::uint32_t> sourceSetting_ GUARDED_BY(settingsMu_);  // network order

  // Owned by the receiver's thread.
  struct Early {
    std::uint32_t fileId = 0;
    std::vector<std::uint8_t> datagram;
  };
  std::deque<Early> early_;  // symbols of files whose descriptor has not come yet, oldest first
  std::map<std::uint32_t, std::unique_ptr<IncomingFile>> files_;
  std::deque<std::uint32_t> finishedIds_;
  std::optional<std::uint32_t> current_;  // the file that stored a symbol last
  std::optional<Ed25519PublicKey> trustedKey_;
  std::optional<std::uint32_t> source_;
  // Descriptor datagrams lately checked against trustedKey_, and whether the key signed them.
  struct Verdict {
    std::vector<std::uint8_t> datagram;
    bool authentic = false;
  };
  std::deque<Verdict> verdicts_;
  std::deque<std::uint32_t> unauthenticatedIds_;  // reported
  std::deque<std::uint32_t> straySources_;        // reported, network order
};

}  // namespace ondavox::fcast
