#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/core/ClientConfig.h"
#include "client/core/ReceptionSettings.h"
#include "client/core/SinkFcastRcvEvent.h"
#include "common/FcastComponent.h"
#include "platform/Launcher.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The client's side of the file broadcast: the Fcast component's receiver object, started on
// the group and port of each FCAST announcement, and its event thread (SinkFcastRcvEvent). Each
// completed file is opened from the download folder with the program associated with its
// name's ending, or with the desktop's handler.
//
// The server announces each transfer again and again while it lasts: an announcement of the
// group, port and folder the receiver already runs on changes nothing and logs nothing, and a
// failed Start logs its failure once however often the same announcement retries it.
//
// Created by the ClientRunner and living as long as it. Start: the multicast listener thread
// (one at a time); completions are handled on the event thread.
class FcastReceiver {
 public:
  // Told of each completed file once it has been opened: its path and its name.
  using StoredHandler = std::function<void(const std::string& path, const std::string& name)>;

  // |receiver| is the component's receiver object, null when it could not be created (then
  // every Start fails). |settings| and |launcher| must outlive the object. |onStored| (may be
  // empty) runs on the event thread.
  FcastReceiver(std::shared_ptr<FcastReceiverObject> receiver, const ReceptionSettings& settings,
                Launcher& launcher, StoredHandler onStored = {});

  // Receives from |group| and |port| into |folder| (created when missing) and runs the event
  // loop. True when the receiver object accepted both its Init and its Start, or when it
  // already runs on these three.
  bool Start(const std::string& group, int port, const std::string& folder) EXCLUDES(mu_);

  // The component's receiver object (null when it could not be created), for its statistics.
  const std::shared_ptr<FcastReceiverObject>& object() const { return receiver_; }

  // The path a received file is opened at: |folder| and |name| joined by one "/".
  static std::string FullPath(const std::string& folder, const std::string& name);
  // The first association whose extension ends |name| byte for byte, or nothing.
  static std::optional<FileAssociation> Match(const std::vector<FileAssociation>& associations,
                                              const std::string& name);

 private:
  void FileComplete(long fileId, const std::string& name, long size) EXCLUDES(mu_);

  // What a successful Start received from.
  struct Reception {
    std::string group;
    int port = 0;
    std::string folder;
    bool operator==(const Reception&) const = default;
  };

  const std::shared_ptr<FcastReceiverObject> receiver_;
  const ReceptionSettings& settings_;
  Launcher& launcher_;
  const StoredHandler onStored_;

  Mutex mu_;
  std::string folder_ GUARDED_BY(mu_);  // of the latest Init
  std::optional<Reception> running_ GUARDED_BY(mu_);  // of the latest successful Start
  std::optional<Reception> failed_ GUARDED_BY(mu_);   // of the latest Start, when it failed
  // Declared last: its thread ends before the members it uses go away.
  std::unique_ptr<SinkFcastRcvEvent> events_;
};

}  // namespace ondavox::client
