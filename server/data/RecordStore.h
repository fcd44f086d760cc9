#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/AtomicFile.h"
#include "platform/Status.h"
#include "server/data/ArchiveReader.h"
#include "server/data/ArchiveWriter.h"
#include "server/data/DatabaseFile.h"

namespace ondavox::server {

// The records of one database file: the file's path, the owned records in insertion order,
// and an index by key beside the list, so that finding a record takes the same time whatever
// the number of records. Keys may repeat in a loaded file; every operation by key acts on the
// first record with that key in list order. A record's key must not change while it is
// stored.
//
// The file holds a u16 count, then each record as an object of Record::kClass followed by
// its body (format in ArchiveFormat.h). A store never holds more than kMaxRecords records, so
// a saved count always matches the records written.
//
// Not thread safe: callers serialise access (the server data lock). Const operations touch no
// shared state, so they may run at the same time as each other; walks use their own position.
template <class Record>
class RecordStore {
 public:
  static constexpr std::size_t kMaxRecords = 0xFFFF;
  // Writes the body of one record when the store is encoded.
  using BodyWriter = std::function<void(const Record&, ArchiveWriter&)>;

  explicit RecordStore(std::string path) : path_(std::move(path)) {}
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  const std::string& path() const { return path_; }

  // Replaces the records with those of the file. A missing file gives no records. On any
  // failure the records are left as they were.
  Status Load() {
    std::optional<std::string> bytes;
    Status status = ReadDatabaseFile(path_, &bytes);
    if (!status.ok()) return status;
    if (!bytes) {
      Clear();
      return status;
    }
    return Decode(*bytes);
  }

  // Replaces the records with those encoded in |bytes|; format errors name path(). On failure
  // the records are left as they were.
  Status Decode(std::string_view bytes) {
    ArchiveReader reader(bytes, path_);
    const uint16_t count = reader.ReadU16();
    RecordStore loaded(path_);
    // Each record takes at least its two-byte tag, so a forged count cannot reserve more
    // than the bytes at hand justify.
    loaded.index_.reserve(std::min<std::size_t>(count, bytes.size() / 2));
    for (uint32_t i = 0; i < count && reader.ok(); ++i) {
      reader.ReadObjectHeader(Record::kClass);
      if (!reader.ok()) break;
      auto record = std::make_unique<Record>();
      record->Serialize(reader);
      if (reader.ok()) loaded.Link(std::move(record));
    }
    if (!reader.ok()) return reader.status();
    records_.swap(loaded.records_);
    index_.swap(loaded.index_);
    return Status();
  }

  // The file's bytes for the records in list order; |writeBody| writes each body. |sizeHint|,
  // the likely size (that of the previous encoding, say), saves copies as the bytes grow.
  std::string Encode(const BodyWriter& writeBody, std::size_t sizeHint = 0) const {
    ArchiveWriter writer;
    writer.Reserve(sizeHint);
    writer.WriteU16(static_cast<uint16_t>(records_.size()));
    for (const auto& record : records_) {
      writer.WriteObjectHeader(Record::kClass);
      writeBody(*record, writer);
    }
    return writer.TakeBytes();
  }
  std::string Encode() const { return Encode(&WriteStoredBody); }

  // Replaces the file atomically: on failure the old file is intact and the error is
  // returned. The records are unchanged either way.
  Status Save(const BodyWriter& writeBody) const {
    return WriteFileAtomically(path_, Encode(writeBody));
  }
  Status Save() const { return Save(&WriteStoredBody); }

  // Appends |record| and takes it (|record| is then empty). Returns false, leaving |record|
  // with the caller, when a record with its key exists or the store is full.
  // REQUIRES: |record| is not null.
  bool Add(std::unique_ptr<Record>& record) {
    if (records_.size() >= kMaxRecords || index_.contains(record->GetKey())) return false;
    Link(std::move(record));
    return true;
  }

  // Destroys the first record with |key|; false when there is none.
  bool Remove(std::string_view key) {
    const auto entry = index_.find(key);
    if (entry == index_.end()) return false;
    const auto position = entry->second.first;
    if (--entry->second.copies == 0) {
      index_.erase(entry);
    } else {
      auto next = std::next(position);
      while ((*next)->GetKey() != key) ++next;
      entry->second.first = next;
      entry->second.record = next->get();
    }
    records_.erase(position);
    return true;
  }

  // The first record with |key|, still owned by the store, or null.
  Record* Find(std::string_view key) {
    const auto entry = index_.find(key);
    return entry == index_.end() ? nullptr : entry->second.record;
  }
  const Record* Find(std::string_view key) const {
    const auto entry = index_.find(key);
    return entry == index_.end() ? nullptr : entry->second.record;
  }

  std::size_t GetCount() const { return records_.size(); }

  // Calls |visit| with each record in list order.
  template <class Visit>
  void ForEach(Visit&& visit) const {
    for (const auto& record : records_) visit(static_cast<const Record&>(*record));
  }
  template <class Visit>
  void ForEach(Visit&& visit) {
    for (auto& record : records_) visit(*record);
  }

 private:
  using Position = typename std::list<std::unique_ptr<Record>>::iterator;
  struct IndexEntry {
    Position first;      // the first record with the key, in list order
    Record* record;      // *first, kept here to save a memory access on Find
    std::size_t copies;  // how many records carry the key
  };
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>()(key);
    }
  };

  static void WriteStoredBody(const Record& record, ArchiveWriter& writer) {
    record.Serialize(writer);
  }

  void Link(std::unique_ptr<Record> record) {
    std::string key = record->GetKey();
    Record* stored = record.get();
    records_.push_back(std::move(record));
    const auto [entry, inserted] =
        index_.try_emplace(std::move(key), IndexEntry{std::prev(records_.end()), stored, 0});
    ++entry->second.copies;
  }

  void Clear() {
    index_.clear();
    records_.clear();
  }

  std::string path_;
  std::list<std::unique_ptr<Record>> records_;
  std::unordered_map<std::string, IndexEntry, KeyHash, std::equal_to<>> index_;
};

}  // namespace ondavox::server
