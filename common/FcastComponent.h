#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SharedLibrary.h"

namespace ondavox {

// The Fcast component as the programs see it: a sender object (the server) and a receiver
// object (each client), made by the shared library libfcast.so, which is loaded at run time.
// The two interfaces below are what the library implements; their methods return 0 on success
// and a negative value on failure (kFcastFail, kFcastInvalidArgument), GetEvent also 1 when its
// time limit passed without an event.

inline constexpr char kFcastLibraryName[] = "libfcast.so";
inline constexpr char kFcastRegisterEntry[] = "DllRegisterServer";
inline constexpr char kFcastFactoryEntry[] = "FcastCreateObject";
inline constexpr char kFcastSenderClassId[] = "{C12478CD-7281-11D2-BAE5-00E0291ABD56}";
inline constexpr char kFcastReceiverClassId[] = "{197F831B-6E9C-11D2-BAE2-00E0291ABD56}";

inline constexpr long kFcastOk = 0;
inline constexpr long kFcastTimeout = 1;
inline constexpr long kFcastFail = -1;
inline constexpr long kFcastInvalidArgument = -2;

// Receiver event codes.
enum FcastEventCode : long {
  FCASTRE_INVALID = 0,
  FCASTRE_FILE_START = 1,
  FCASTRE_FILE_COMPLETE = 2,
  FCASTRE_COMPLETE = 3,
  FCASTRE_SESSION = 4,
  FCASTRE_TERMINATION = 5,
  FCASTRE_CONTINUE = 6,
  // The file just completed took the place of a different file of the same name, which was kept
  // as the name followed by "~" (one generation). |name| is the stored file's name. Comes just
  // before that file's FCASTRE_FILE_COMPLETE.
  FCASTRE_FILE_REPLACED = 7,
  FCASTRE_ERROR = 60,
  FCASTRE_FATAL_ERROR = 61,
};

// Error codes carried by FCASTRE_ERROR (a file refused or lost; reception goes on) and
// FCASTRE_FATAL_ERROR (the receiver has stopped).
enum FcastError : long {
  kFcastErrorNone = 0,
  kFcastErrorDiskSpace = 1,   // the file does not fit the free disk space; nothing written
  kFcastErrorCreateFile = 2,  // the temporary file could not be made in the download folder
  kFcastErrorWrite = 3,       // writing or reading back the file failed
  kFcastErrorChecksum = 4,    // the rebuilt file does not match the sender's SHA-256
  kFcastErrorRename = 5,      // the complete file could not be given its final name
  kFcastErrorAbandoned = 6,   // the file stopped arriving and made way for another one
  // With a trusted key set: the file's descriptor is unsigned, badly signed or signed by another
  // key. Nothing is reserved or written for it; |name| is the name it announced (made safe).
  // Reported once per file id.
  kFcastErrorUnauthenticated = 7,
  // With a source set: datagrams came from another address, and were dropped unread. |name| is
  // that address as dotted text. Reported once per address.
  kFcastErrorStraySource = 8,
  kFcastErrorSocket = 10,     // the receiving socket failed
};

// Sends files to a multicast group. Any thread; calls are serialised.
class FcastSender {
 public:
  virtual ~FcastSender() = default;
  // Group address, port, the rounds the code is sized for (the server: kPlannedRounds), the rate
  // in bytes per second. Ends a transfer in progress.
  virtual long Init(const std::string& group, long port, long plannedRounds, long rate) = 0;
  // Starts sending the file at |path|, round after round, until Stop.
  virtual long SendFile(const std::string& path) = 0;
  virtual long Stop() = 0;
  // st: 1024-byte units of the file sent (size / 1024 per round); sr: the part of st sent as
  // repair data; then datagrams sent, rounds completed, bytes sent. Any output may be null.
  virtual long GetStatistics(long* st, long* sr, long* packets, long* rounds, long* bytes) = 0;
  // The Ed25519 private key (its 32-byte seed) that signs every descriptor of the files sent
  // after the next Init; empty: descriptors go unsigned. kFcastInvalidArgument for another size.
  virtual long SetSigningKey(const std::vector<unsigned char>& seed) = 0;
  // The IPv4 address of the interface that sends, from the next Init; empty: the system's
  // choice.
  virtual long SetInterface(const std::string& address) = 0;
};

// Receives the files sent to a multicast group into a download folder, on a thread of its own,
// and reports what happens as events. Init and Start from one thread; GetEvent from another.
class FcastReceiverObject {
 public:
  virtual ~FcastReceiverObject() = default;
  // Starts receiving (after Init).
  virtual long Start() = 0;
  // Group address, port and download folder. Called again with the same values while running
  // it keeps the transfers in progress; with other values it starts over.
  virtual long Init(const std::string& group, long port, const std::string& folder) = 0;
  // Waits up to |timeLimitMs| for the next event: 0 with the outputs filled, kFcastTimeout when
  // none came, negative before Init. |name| is the stored file's name in the download folder;
  // |unused| is set to 0.
  virtual long GetEvent(long timeLimitMs, long* code, long* error, long* fileId, long* size,
                        std::string* name, short* unused) = 0;
  // The file being received, as of the receiver's last batch of datagrams: its id, its name
  // (as GetEvent gives it), its size, and the symbols held of the symbols needed to rebuild
  // it, which reach |symbolsNeeded| when the file is whole. Between files (none received, or
  // the one in progress stalled), an empty name and zeros. Negative before Init. Any thread;
  // any output may be null.
  virtual long GetStatistics(long* fileId, std::string* name, long* size, long* symbolsHeld,
                             long* symbolsNeeded) = 0;
  // The Ed25519 public key (32 bytes) that must have signed a file's descriptor before anything
  // is reserved or written for it; empty: unsigned descriptors are taken too. Any thread, at any
  // time, before or after Init: it holds for the descriptors that come after it, and a file in
  // progress completes only with a digest from a descriptor that key signed.
  // kFcastInvalidArgument for another size.
  virtual long SetTrustedKey(const std::vector<unsigned char>& publicKey) = 0;
  // The only IPv4 address (dotted text) whose datagrams are read; empty: any. Any thread, at
  // any time. kFcastInvalidArgument for text that is not an address.
  virtual long SetSource(const std::string& address) = 0;
};

// An object made by the library, with the reference that keeps the library loaded while the
// object lives. Empty when creation failed.
template <class Interface>
class FcastObject {
 public:
  FcastObject() = default;
  FcastObject(SharedLibrary library, std::unique_ptr<Interface> object)
      : library_(std::move(library)), object_(std::move(object)) {}

  explicit operator bool() const { return object_ != nullptr; }
  Interface* get() const { return object_.get(); }
  Interface* operator->() const { return object_.get(); }

 private:
  std::optional<SharedLibrary> library_;  // declared first: outlives the object
  std::unique_ptr<Interface> object_;
};

// Shows one message to the user (a message box in the windowed programs, a log line
// elsewhere).
using FcastMessageHook = std::function<void(const std::string& text)>;

// Where the library is looked for, in order: beside the running executable, in the lib folder
// beside the executable's folder (an installed tree), then by bare name through the dynamic
// linker's search.
std::vector<std::string> FcastLibraryCandidates();

// The creation steps, identical in both programs: load the library, look up its registration
// entry point and call it, every time (failures go to |message|: "Can't load libfcast.so",
// "Can't find DllRegisterServer in libfcast.so", "Can't register libfcast.so"; success writes
// "libfcast.so successfully registered.\n" to the debug output and releases that reference);
// then, in every case, load it again and create the object from its class id. An empty
// object when that fails. Any thread.
FcastObject<FcastSender> CreateFcastSender(
    const FcastMessageHook& message,
    const std::vector<std::string>& candidates = FcastLibraryCandidates());
FcastObject<FcastReceiverObject> CreateFcastReceiver(
    const FcastMessageHook& message,
    const std::vector<std::string>& candidates = FcastLibraryCandidates());

}  // namespace ondavox
