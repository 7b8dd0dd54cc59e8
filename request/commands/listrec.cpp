// The recording list: LISTREC prints one `reclistrow` per entry of the
// video (or audio) recording directory, with its size and times and, when
// the channel database's media_info table knows the file, its play time and
// lock flag.
//
// media_info.file_name holds a name or a path that ends with the name found
// on disk; the lookup matches it with LIKE '%' || name, and the first row
// the database returns wins. Asking the database once per entry scans the
// table once per entry; instead the table is read once, in the order that
// same statement returns its rows, into a tail index (suffix_index.h), and
// only entries whose LIKE pattern the index cannot answer exactly (names
// with the wildcards '%' or '_', or bytes that are not plain UTF-8) are
// asked of the database.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../output.h"
#include "../request.h"
#include "../xml.h"
#include "commands.h"
#include "suffix_index.h"

namespace {

// Path of an entry: directory, '/', name; at most PATH_BUF - 1 characters.
constexpr size_t PATH_BUF = 4096;
// The LIKE pattern of an entry: '%' and its name.
constexpr size_t PATTERN_BUF = 4096;

const char MEDIA_SQL[] = "SELECT play_time, lock FROM media_info WHERE file_name LIKE ? ";
// Every row MEDIA_SQL can return, in the order it returns them: the same
// table, the same condition on the same column with a pattern that also
// begins with '%' (so that no index can serve it), the same columns read,
// hence the same plan and the same order (rowid order for a plain table, a
// covering index's or the primary key's order where the engine picks
// those). LIKE '%' drops exactly the rows that no LIKE pattern matches
// (NULL names, and blobs where the engine is built not to match them).
const char MEDIA_SCAN_SQL[] =
    "SELECT play_time, lock, file_name FROM media_info WHERE file_name LIKE ? ";

struct MediaData {
  int play_time;
  int lock;
};

// media_info read once, for the entries the tail index can answer.
struct MediaTable {
  bool read = false;    // the scan was tried
  bool usable = false;  // it read every row; otherwise the statement answers
  std::vector<MediaData> rows;  // in the statement's order
  SuffixIndex tails;            // the rows' names; "" for the rows in `odd`
  // Rows whose name LIKE does not read byte for byte: few, each compared
  // with the engine's own LIKE comparison. In row order.
  std::vector<std::pair<uint32_t, std::string>> odd;
};

// What one listing holds open; released before every way out of it.
struct Listing {
  DIR *dir = nullptr;
  sqlite3_stmt *stmt = nullptr;
  // The bound pattern is not copied by SQLite: it must stay unchanged until
  // the statement is reset for the next entry.
  char pattern[PATTERN_BUF];
  MediaTable media;
};

void release(Listing &l) {
  if (l.stmt) sqlite3_finalize(l.stmt);
  if (l.dir) closedir(l.dir);
  l.stmt = nullptr;
  l.dir = nullptr;
  l.media = MediaTable{};
}

// Ends the request with `msg` (formatted before the release, since it may
// hold the engine's message).
[[noreturn]] void fail_listing(Listing &l, const char *msg) {
  release(l);
  fail_request(msg);
}

// Entries that are never listed: index files of recordings, hidden entries
// ("." and ".." among them) and recordings marked as deleted. Case matters.
bool skipped(const char *name) {
  return strstr(name, ".index") || name[0] == '.' || strncmp(name, "dead.", 5) == 0;
}

// Reads media_info once into `t`. Leaves t.usable false (and the table
// empty) when the engine's LIKE is not the ASCII-case-folding one or the
// scan does not run to its end (busy, error): the statement then answers
// every entry, as it would have anyway.
void read_media_table(MediaTable &t) {
  t.read = true;
  if (sqlite3_compileoption_used("CASE_SENSITIVE_LIKE") ||
      sqlite3_compileoption_used("ENABLE_ICU"))
    return;
  sqlite3_stmt *scan = nullptr;
  if (sqlite3_prepare_v2(db, MEDIA_SCAN_SQL, -1, &scan, nullptr) != SQLITE_OK ||
      sqlite3_bind_text(scan, 1, "%", 1, SQLITE_STATIC) != SQLITE_OK) {
    sqlite3_finalize(scan);
    return;
  }
  int rc;
  while ((rc = sqlite3_step(scan)) == SQLITE_ROW) {
    const uint32_t row = static_cast<uint32_t>(t.rows.size());
    t.rows.push_back({sqlite3_column_int(scan, 0), sqlite3_column_int(scan, 1)});
    const char *text = reinterpret_cast<const char *>(sqlite3_column_text(scan, 2));
    // LIKE reads the name up to its first NUL, as this does.
    std::string_view name = text ? std::string_view(text) : std::string_view();
    if (like_reads_bytes_exactly(name)) {
      suffix_index_add(t.tails, name);
    } else {
      suffix_index_add(t.tails, "");
      t.odd.emplace_back(row, name);
    }
  }
  sqlite3_finalize(scan);
  if (rc != SQLITE_DONE) {
    t = MediaTable{};
    t.read = true;
    return;
  }
  suffix_index_finish(t.tails);
  t.usable = true;
}

// True when the tail index answers LIKE '%' || name exactly: no wildcard
// in the name, and bytes that LIKE reads as they are.
bool index_answers(const char *name) {
  return !strpbrk(name, "%_") && like_reads_bytes_exactly(name);
}

// Looks the entry `name` (at `path`, for the messages) up in media_info.
// Returns true with the first matching row's values in `out`; false when no
// row matches or the step yields no row for any other reason (busy, error).
// Ends the request when the pattern cannot be built or bound.
bool find_media(Listing &l, const char *name, const char *path, MediaData &out) {
  sqlite3_reset(l.stmt);
  int n = snprintf(l.pattern, sizeof l.pattern, "%%%s", name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof l.pattern)
    fail_listing(l, sqlite3_mprintf("failed constructing searchtext for file '%s'", path));
  if (index_answers(name)) {
    MediaTable &t = l.media;
    if (!t.read) read_media_table(t);
    if (t.usable) {
      long first = suffix_index_first(t.tails, name);
      for (const auto &[row, text] : t.odd) {
        if (first >= 0 && row > first) break;
        if (sqlite3_strlike(l.pattern, text.c_str(), 0) == 0) {
          first = row;
          break;
        }
      }
      if (first < 0) return false;
      out = t.rows[static_cast<size_t>(first)];
      return true;
    }
  }
  if (sqlite3_bind_text(l.stmt, 1, l.pattern, -1, SQLITE_STATIC) != SQLITE_OK)
    fail_listing(l, sqlite3_mprintf("could not bind searchtext for file '%s': '%s", path,
                                    sqlite3_errmsg(db)));
  if (sqlite3_step(l.stmt) != SQLITE_ROW) return false;
  out.play_time = sqlite3_column_int(l.stmt, 0);
  out.lock = sqlite3_column_int(l.stmt, 1);
  return true;
}

}  // namespace

// Lists PATH_AUDIO when the argument contains "audio" in any case, else
// PATH_VIDEO, in the directory's own order. Times are printed from the
// 64-bit time, so they do not wrap after 2038.
void listrec_command(const char *arg) {
  const bool audio = strcasestr(arg, "audio") != nullptr;
  const char *dir_path = getenv(audio ? "PATH_AUDIO" : "PATH_VIDEO");
  if (!dir_path)
    fail_request(audio ? "could not get PATH_AUDIO environment variable"
                       : "could not get PATH_VIDEO environment variable for media-directory");

  Listing l;
  l.dir = opendir(dir_path);
  if (!l.dir)
    fail_request(
        sqlite3_mprintf("opening of directory (%s) failed: %s", dir_path, strerror(errno)));
  if (sqlite3_prepare_v2(db, MEDIA_SQL, -1, &l.stmt, nullptr) != SQLITE_OK)
    fail_listing(l, sqlite3_mprintf("failed preparing of sql statement: %s", sqlite3_errmsg(db)));

  char path[PATH_BUF];
  while (const dirent *entry = readdir(l.dir)) {
    const char *name = entry->d_name;
    if (skipped(name)) continue;
    int n = snprintf(path, sizeof path, "%s/%s", dir_path, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
      fail_listing(l, "error opening file: filename too long");
    struct stat st;
    if (stat(path, &st) != 0)
      fail_listing(l, sqlite3_mprintf("stat failed on file '%s': %s", path, strerror(errno)));

    MediaData media;
    const bool known = find_media(l, name, path, media);

    out_write("<reclistrow><filename>");
    print_xml_text(path);
    out_printf("</filename><size>%lld</size><lastmod>%lld</lastmod><lastaccess>%lld</lastaccess>",
               static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtime),
               static_cast<long long>(st.st_atime));
    if (known) out_printf("<playtime>%d</playtime><lock>%d</lock>", media.play_time, media.lock);
    out_write("</reclistrow>\n");
  }
  release(l);
}
