#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Status.h"
#include "server/data/CDocInfo.h"
#include "server/data/RecordStore.h"

namespace ondavox::server {

// The documents the server can broadcast, in the order they were added, stored in the
// document database file (the documentDatabase setting). Keys (owner followed by file name,
// see CDocInfo::MakeKey) compare byte for byte, case-sensitively. Owned by the server
// document; used by the documents and playlist dialogs, FILEINFO on client connection
// threads, and the document's stop.
//
// Not thread safe: every caller holds the server data lock, and uses a record returned by
// Find only while it holds the lock. Const operations may run at the same time as each other.
// Destroying the database does not write it: its owner saves it.
class DocumentDatabase {
 public:
  explicit DocumentDatabase(std::string path) : store_(std::move(path)) {}

  // Reads the file. A missing file gives no documents and no error; content that does not
  // parse is a format error naming the file and the byte offset, and leaves the documents
  // unchanged.
  Status Load() { return store_.Load(); }
  // Replaces the file atomically; on failure the old file is intact.
  Status Save() const { return store_.Save(); }

  // Appends |document| and takes it; false (|document| stays with the caller) when its key
  // exists or the database holds its maximum of 65,535 documents.
  bool Add(std::unique_ptr<CDocInfo>& document) { return store_.Add(document); }
  // Destroys the first document with |key|; false when there is none.
  bool Remove(std::string_view key) { return store_.Remove(key); }
  // The first document with |key|, still owned by the database, or null.
  CDocInfo* Find(std::string_view key) { return store_.Find(key); }
  const CDocInfo* Find(std::string_view key) const { return store_.Find(key); }

  // The records, for the documents dialog to walk (ForEach) under the server data lock.
  RecordStore<CDocInfo>& GetStore() { return store_; }
  const RecordStore<CDocInfo>& GetStore() const { return store_; }

 private:
  RecordStore<CDocInfo> store_;
};

}  // namespace ondavox::server
