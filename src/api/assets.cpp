// The endpoints through which a paired laptop reads the library: the paged
// listing, thumbnails, file downloads that resume from a byte, and a file's
// SHA-256. Each runs on its connection's thread; files stream through in
// frames of at most 1 MiB and are never held whole.
#include <algorithm>

#include "api/api.h"
#include "transport/http.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale {
namespace {

HttpError goneFromPhone() { return HttpError(404, "not_found", "That photo is no longer on the phone."); }

// A file that cannot be read now (it changed since it was listed, was
// replaced by something that is not a file, or its disk stopped
// answering): said while nothing of the response is out yet, so the
// laptop can tell it from a connection that broke.
HttpError unreadable() {
  return HttpError(503, "unreadable", "The phone cannot read that file now. List the library again, then retry.");
}

// Tells the owner of the server that a file's response is over, when the
// owner is still there; `wholeFile` only when it went out to the end, so a
// laptop that hangs up mid-file is not counted as having it.
void reportEnded(const std::weak_ptr<Transfers>& transfers, std::int64_t sent, bool wholeFile) {
  if (const std::shared_ptr<Transfers> owner = transfers.lock()) owner->ended(sent, wholeFile);
}

}  // namespace

void Api::assets(const HttpRequest& request, ByteSink& sink) const {
  std::int64_t limit = kDefaultPageSize;
  if (const auto given = request.query.find("limit"); given != request.query.end()) {
    const std::optional<std::int64_t> parsed = Text::parseInteger(given->second);
    if (!parsed || *parsed < 1 || *parsed > kMaxPageSize) {
      throw HttpError(400, "bad_request", "limit is a number from 1 to 500.");
    }
    limit = *parsed;
  }
  // An empty "after" starts from the beginning, like none.
  std::optional<std::string_view> after;
  if (const auto given = request.query.find("after"); given != request.query.end() && !given->second.empty()) {
    after = given->second;
  }
  Page page;
  try {
    page = library_.page(after, limit);
  } catch (const LibraryError&) {
    throw HttpError(400, "bad_request", "That cursor did not come from this phone.");
  }
  nlohmann::json listed = nlohmann::json::array();
  for (const Asset& asset : page.assets) listed.push_back(asset.json());
  sink.send(Http::json(200, {{"assets", std::move(listed)}, {"next", orNull(page.next)}}));
}

void Api::thumb(std::string_view id, const HttpRequest& request, ByteSink& sink) const {
  std::int64_t px = kDefaultThumbnailSize;
  if (const auto given = request.query.find("px"); given != request.query.end()) {
    px = Text::parseInteger(given->second).value_or(kDefaultThumbnailSize);
  }
  px = std::clamp(px, kMinThumbnailSize, kMaxThumbnailSize);
  const std::optional<std::string> jpeg = library_.thumbnail(id, px);
  if (!jpeg) throw HttpError(404, "not_found", "There is no thumbnail for that photo.");
  std::string response =
      Http::head(200, {{"Content-Type", "image/jpeg"}, {"Content-Length", std::to_string(jpeg->size())}});
  response += *jpeg;
  sink.send(response);
}

void Api::res(std::string_view id, std::string_view rid, const HttpRequest& request, ByteSink& sink) const {
  const std::unique_ptr<Opened> opened = library_.open(id, rid);
  if (!opened) throw goneFromPhone();
  // A refused range is answered like any failure of a handler, with the
  // Content-Range a client expects on a 416; the connection stays usable.
  const std::int64_t from = Http::rangeStart(request.header("range")).value_or(0);

  const std::string asset(id);
  bool headWritten = false;
  std::int64_t sent = 0;
  const auto writeHead = [&] {
    Http::Headers headers = {{"Content-Type", opened->mime()},
                             {"ETag", opened->etag()},
                             {"Accept-Ranges", "bytes"},
                             {"Transfer-Encoding", "chunked"}};
    // The end and the total are not known before the file has been read.
    if (from > 0) headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-*/*");
    sink.send(Http::head(from > 0 ? 206 : 200, headers));
    headWritten = true;
    if (const std::shared_ptr<Transfers> owner = callbacks_.transfers.lock()) owner->began(asset);
  };

  std::int64_t size = 0;
  try {
    size = opened->read(
        [&](std::string_view bytes) {
          if (bytes.empty()) return;
          if (!headWritten) writeHead();
          while (!bytes.empty()) {
            const std::string_view piece = bytes.substr(0, Http::kMaxChunkBytes);
            // Framed around the payload rather than copied into a frame:
            // pieces are up to 1 MiB and every byte of a library passes here.
            // Queued, so that frames and pieces leave in the connection's
            // large writes; the last chunk's send takes out the rest.
            sink.queue(Http::chunkHead(piece.size()));
            sink.queue(piece);
            sink.queue(Http::chunkEnd);
            sent += static_cast<std::int64_t>(piece.size());
            bytes.remove_prefix(piece.size());
          }
        },
        from);
  } catch (const ResourceReadError&) {
    if (!headWritten) throw unreadable();
    reportEnded(callbacks_.transfers, sent, false);
    throw;
  } catch (...) {
    if (headWritten) reportEnded(callbacks_.transfers, sent, false);
    throw;
  }

  if (!headWritten) {
    if (from > 0) {
      // The read ran to the end without reaching the range's start.
      throw HttpError(416, "range_not_satisfiable", "The range starts past the end of the file.",
                      {{"Content-Range", "bytes */" + std::to_string(size)}});
    }
    writeHead();  // an empty file: the head and the last chunk alone
  }
  try {
    sink.send(Http::lastChunk);
  } catch (...) {
    reportEnded(callbacks_.transfers, sent, false);
    throw;
  }
  reportEnded(callbacks_.transfers, sent, true);
}

void Api::sha256(std::string_view id, std::string_view rid, ByteSink& sink) const {
  const std::unique_ptr<Opened> opened = library_.open(id, rid);
  if (!opened) throw goneFromPhone();
  Crypto::Sha256 digest;
  try {
    opened->read([&](std::string_view bytes) { digest.update(bytes); }, 0);
  } catch (const ResourceReadError&) {
    throw unreadable();
  }
  sink.send(Http::json(200, {{"sha256", Bytes::hex(digest.finish())}}));
}

}  // namespace lumenvale
