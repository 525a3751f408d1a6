// The custom dictionaries: the user's own readings, one pair of list files per romanization.
//
// A CustomDictionary edits one pair (key file, reading file) through the lists that ListFiles
// holds for it. Entry i is key[i] with reading[i]; there are as many entries as key lines. A
// reading file shorter than its key file (only editing outside the program makes one) gives the
// entries past its end an empty reading; a longer one has its extra lines ignored. Either way the
// next write stores one reading line per key line, so the pair is whole again.
//
// Every change holds the data folder's write lock (PairWriteLock, PairWrite.h) from reading the
// files to reloading them, so two Quorvel programs changing one dictionary never undo each other's
// change and no Quorvel reader sees a pair half written. It rewrites both files together
// (PairWriteLock::WritePair: recorded renames, crash-safe) in the list-file format (ListFileText),
// and then reloads the lists, so the next lookup sees it. A failed write throws InOutError and
// leaves both old files and the lists as they were. Keys and readings are
// GB18030 bytes, trimmed at both ends by TrimControls; a key or reading holding a line break or a
// zero byte inside would tear the pair apart and is refused with quorvel::Error before anything
// is written.
//
// No Qt here: the windows convert their text with Encoding.h and check it with the helpers below.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Encoding.h"
#include "ListFiles.h"
#include "PairWrite.h"

namespace quorvel {

// ---- Text helpers ---------------------------------------------------------------------------

// False when the trimmed text still holds a line break or a zero byte, which would split an
// entry over two lines of its file.
bool FitsOnOneLine(std::string_view text);

// The number of characters of a UTF-8 text (DecodeUtf8; each byte that does not start a valid
// sequence, such as an overlong form or a surrogate, counts one).
std::size_t CharacterCount(std::string_view utf8);

// The first character of a UTF-8 text that cannot be stored in GB18030 (a byte that is no UTF-8,
// or one of the few private-use code points iconv's GB18030 gives no code), or nullopt when the
// whole text converts. The editors refuse such text: stored as a stand-in it could never match
// what a names file holds.
std::optional<std::string> FirstUnstorableChar(std::string_view utf8);

// What the key field accepts: two characters, a compound surname. A key of any GBK characters is
// stored in bytes that every earlier version reads alike.
inline constexpr std::size_t kMaxKeyCharacters = 2;

// The GB18030 bytes of a UTF-8 text typed for the dictionary. Error, with the editors' message,
// when FirstUnstorableChar finds a character.
std::string DictionaryTextFromUtf8(std::string_view utf8);

// DictionaryTextFromUtf8 for one field of an entry (a key or a reading): also an Error, with the
// editors' message, when the trimmed text still holds a line break (FitsOnOneLine).
std::string OneLineDictionaryText(std::string_view utf8);

// ---- Dictionary -----------------------------------------------------------------------------

struct DictionaryEntry {
  std::string key;      // GB18030, as the key list holds it
  std::string reading;  // GB18030; empty where the reading file has no line for the key
  bool operator==(const DictionaryEntry&) const = default;
};

// The list-box line of an entry: key, one space, reading.
std::string EntryLine(const DictionaryEntry& entry);

class CustomDictionary {
 public:
  enum class Kind { kStandard, kWadeGiles, kWholeNames };  // kWholeNames: TaughtNames.h

  CustomDictionary(ListFiles& lists, Kind kind);

  Kind GetKind() const { return kind_; }
  ListSlot KeySlot() const { return keySlot_; }
  ListSlot ReadingSlot() const { return readingSlot_; }
  std::string KeyPath() const { return lists_.ListPath(keySlot_); }
  std::string ReadingPath() const { return lists_.ListPath(readingSlot_); }

  // Reloads the lists if any list file changed since they were loaded (FileOpenError when one
  // exists but cannot be read). Entries() and Find() read the lists as the last load left them.
  void Refresh() { lists_.Refresh(); }

  std::vector<DictionaryEntry> Entries() const;
  std::vector<std::string> Lines() const;  // EntryLine of every entry, in order

  // Both changes start with Refresh, so they never write from lists that miss a change made to
  // the files since they were loaded (or whose last load failed).
  //
  // Trims both texts. Every entry whose key equals the trimmed key byte for byte gets the new
  // reading; without one, the entry is appended. Writes the pair and reloads the lists.
  // Returns the line to select: the last updated entry, or the appended one.
  std::size_t AddOrUpdate(std::string_view key, std::string_view reading);

  // The editors' checks on a key and reading typed as UTF-8, giving the entry to store (GB18030,
  // trimmed). Error with the editors' message when either holds a character that cannot be stored
  // or a line break inside, or when the trimmed key has more than kMaxKeyCharacters characters
  // and is not already a key
  // here (a longer key that another program stored can still be updated, as in the window).
  // Reads the lists as the last load left them.
  DictionaryEntry EntryFromUtf8(std::string_view key, std::string_view reading) const;

  // AddOrUpdate for each entry in order, with one write of the pair for all of them; linear in
  // the entries given and those already held.
  void AddOrUpdateAll(const std::vector<DictionaryEntry>& entries);

  // Removes every entry whose key equals the trimmed `key`; writes and reloads when there was
  // one. Returns how many went.
  std::size_t RemoveKey(std::string_view key);

  // Removes the entry at `index` of the refreshed lists (ListIndexError when there is none),
  // writes, reloads. Callers take the index from Lines() after their own Refresh.
  void DeleteAt(std::size_t index);

  // Writes both files empty, together as every change (an empty pair, which is not a missing
  // one: the installed program copies the shipped dictionary only where the user has no pair),
  // and reloads the lists. A failure raises InOutError with both old files in place.
  void Clear();

  // Writes exactly `entries`, as they are (no trimming, no merging of keys), and reloads: puts
  // back a state the dictionary had before, as an undo does.
  void Restore(const std::vector<DictionaryEntry>& entries);

  // The first entry whose key equals the trimmed `key`, or nullopt.
  std::optional<std::size_t> Find(std::string_view key) const;

 private:
  // Applies `entries` to `all` as AddOrUpdate does; returns the line to select.
  static std::size_t Apply(std::vector<DictionaryEntry>& all, std::string_view key,
                           std::string_view reading);
  void Write(PairWriteLock& lock, const std::vector<DictionaryEntry>& entries);

  ListFiles& lists_;
  Kind kind_;
  ListSlot keySlot_;
  ListSlot readingSlot_;
};

}  // namespace quorvel
