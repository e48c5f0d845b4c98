#include "signals/Popularity.h"

#include <archive.h>
#include <archive_entry.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/Files.h"
#include "safety/PublicSuffixList.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using Tier = PopularityTier;

// A ZIP archive made with libarchive, one entry per (name, content).
std::string makeZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  archive* writer = archive_write_new();
  archive_write_set_format_zip(writer);
  archive_write_open(
      writer, &out, nullptr,
      [](archive*, void* client, const void* data, size_t size) -> la_ssize_t {
        static_cast<std::string*>(client)->append(static_cast<const char*>(data), size);
        return static_cast<la_ssize_t>(size);
      },
      nullptr);
  for (const auto& [name, content] : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, content.data(), content.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return out;
}

// The archive with every entry claiming 100 bytes wherever a size is written (local header, data
// descriptor, central directory): a bomb that lies about what it expands to.
std::string claimingTinySizes(std::string zip) {
  const auto patch = [&](std::string_view signature, std::size_t offset) {
    for (auto at = zip.find(signature); at != std::string::npos; at = zip.find(signature, at + 4)) {
      const unsigned char tiny[4] = {100, 0, 0, 0};
      std::memcpy(&zip[at + offset], tiny, 4);
    }
  };
  patch(std::string_view("PK\x03\x04", 4), 22);
  patch(std::string_view("PK\x07\x08", 4), 12);
  patch(std::string_view("PK\x01\x02", 4), 24);
  return zip;
}

// A one-request-per-connection HTTP server on 127.0.0.1 answering every request with the
// current status and body. With `hold` set, an answer waits until `release` (and `arrived` is
// signalled when a request is in).
class LoopbackServer {
 public:
  LoopbackServer() {
    m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    ::listen(m_socket, 8);
    m_thread = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    release();
    ::shutdown(m_socket, SHUT_RDWR);
    m_thread.join();
    ::close(m_socket);
  }

  std::string url() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/top-1m.csv.zip";
  }
  void answer(int status, std::string body) {
    std::lock_guard lock(m_mutex);
    m_status = status;
    m_body = std::move(body);
  }
  void hold() {
    std::lock_guard lock(m_mutex);
    m_held = true;
  }
  void release() {
    std::lock_guard lock(m_mutex);
    m_held = false;
    m_changed.notify_all();
  }
  std::future<void> arrived() { return m_arrived.get_future(); }

 private:
  void serve() {
    while (true) {
      const int client = ::accept(m_socket, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::read(client, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
      }
      std::unique_lock lock(m_mutex);
      if (m_held) {
        m_arrived.set_value();
        m_changed.wait(lock, [this] { return !m_held; });
      }
      const std::string response = "HTTP/1.1 " + std::to_string(m_status) +
                                   " X\r\nContent-Length: " + std::to_string(m_body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + m_body;
      lock.unlock();
      for (std::size_t sent = 0; sent < response.size();) {
        const ssize_t wrote = ::send(client, response.data() + sent, response.size() - sent,
                                     MSG_NOSIGNAL);
        if (wrote <= 0) break;
        sent += static_cast<std::size_t>(wrote);
      }
      ::close(client);
    }
  }

  int m_socket = -1;
  int m_port = 0;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_status = 404;
  std::string m_body;
  bool m_held = false;
  std::promise<void> m_arrived;
  std::thread m_thread;
};

// "rank,domain" rows for ranks 1 to `count` ("site<rank>.test"), a few named hosts, and the
// far ranks 100,000 and 100,001.
std::string trancoCsv(int count) {
  std::string csv;
  for (int rank = 1; rank <= count; ++rank)
    csv += std::to_string(rank) + ",site" + std::to_string(rank) + ".test\r\n";
  csv += "3,xn--bcher-kva.example\r\n";
  csv += "40,example.co.uk\r\n";
  csv += "100000,site100000.test\r\n";
  csv += "100001,site100001.test\r\n";
  return csv;
}

TEST(PopularityTier, RanksAndLabels) {
  EXPECT_EQ(popularityTier(-5), Tier::top1k);
  EXPECT_EQ(popularityTier(1), Tier::top1k);
  EXPECT_EQ(popularityTier(1000), Tier::top1k);
  EXPECT_EQ(popularityTier(1001), Tier::top10k);
  EXPECT_EQ(popularityTier(10001), Tier::top100k);
  EXPECT_EQ(popularityTier(100000), Tier::top100k);
  EXPECT_EQ(popularityTier(100001), Tier::top1m);
  EXPECT_EQ(popularityTierFromRawValue(3), Tier::top1m);
  EXPECT_EQ(popularityTierFromRawValue(4), std::nullopt);
  EXPECT_EQ(label(Tier::top10k), "among the 10,000 most visited sites");
  EXPECT_EQ(label(Tier::top1m), "among the 1 million most visited sites");
}

TEST(PopularityStore, CompactsTheSourceList) {
  const std::string list = PopularityStore::compact(
      "rank,domain\r\n1,Example.COM\r\n\r\n2,b.org\r\nno comma\r\n1001,example.com\r\n"
      "x7,bad.rank\r\n100001,a.net\r\n5,\r\n");
  EXPECT_EQ(list, "a.net\t4\nb.org\t1\nexample.com\t1\n");

  EXPECT_EQ(PopularityStore::lookup("b.org", list), Tier::top1k);
  EXPECT_EQ(PopularityStore::lookup("a.net", list), Tier::top1m);
  EXPECT_EQ(PopularityStore::lookup("b.or", list), std::nullopt);
  EXPECT_EQ(PopularityStore::lookup("zzz", list), std::nullopt);
  EXPECT_EQ(PopularityStore::lookup("a", ""), std::nullopt);
  // A tier byte other than 1 to 4 answers nothing, for the bisection and the loaded table alike.
  const std::string damaged = "a.net\t9\nb.org\t\nc.com\t2\n";
  EXPECT_EQ(PopularityStore::lookup("a.net", damaged), std::nullopt);
  EXPECT_EQ(PopularityStore::lookup("b.org", damaged), std::nullopt);
  EXPECT_EQ(PopularityStore::lookup("c.com", damaged), Tier::top10k);
  const PopularityStore::Table table(damaged);
  EXPECT_EQ(table.find("a.net"), std::nullopt);
  EXPECT_EQ(table.find("c.com"), Tier::top10k);

  // The loaded table and the bisection agree on every listed and many unlisted names.
  const std::string big = PopularityStore::compact(trancoCsv(20'000));
  const PopularityStore::Table bigTable(big);
  EXPECT_EQ(bigTable.size(), 20'004u);
  for (int rank = 1; rank <= 20'000; rank += 7) {
    const std::string name = "site" + std::to_string(rank) + ".test";
    ASSERT_EQ(bigTable.find(name), PopularityStore::lookup(name, big)) << name;
    ASSERT_EQ(bigTable.find(name), popularityTier(rank)) << name;
    ASSERT_EQ(bigTable.find(name + "x"), std::nullopt);
  }
}

TEST(PopularityStore, LooksUpHostsInTheLocalFile) {
  testing::TemporaryDirectory folder;
  const PopularityStore store(folder.path() / "tranco-domains.txt");
  const auto& psl = PublicSuffixList::shared();
  const Date now{1'800'000'000};
  EXPECT_EQ(store.tier("example.co.uk", psl), std::nullopt);  // no file yet
  EXPECT_TRUE(store.isStale(86400, now));
  EXPECT_EQ(store.updatedAt(), std::nullopt);

  folder.write("tranco-domains.txt", PopularityStore::compact(trancoCsv(2'000)));
  PopularityStore reader = store;  // copies share the loaded list
  reader.reload();
  EXPECT_EQ(store.tier("  WWW.Site1.test. ", psl), Tier::top1k);
  EXPECT_EQ(store.tier("mail.shop.example.co.uk", psl), Tier::top1k);  // registrable domain
  EXPECT_EQ(store.tier("site1500.test", psl), Tier::top10k);
  EXPECT_EQ(store.tier("Bücher.example", psl), Tier::top1k);  // found in its ASCII form
  EXPECT_EQ(store.tier("www.bücher.example.", psl), Tier::top1k);
  EXPECT_EQ(store.tier("unknown.test", psl), std::nullopt);
  EXPECT_EQ(store.tier("...", psl), std::nullopt);

  ASSERT_TRUE(store.updatedAt());
  EXPECT_FALSE(store.isStale(86400, *store.updatedAt()));
  EXPECT_TRUE(store.isStale(86400, store.updatedAt()->adding(86401)));
}

TEST(PopularityUpdater, DownloadsOverLoopbackAndKeepsTheOldListOnFailure) {
  testing::TemporaryDirectory folder;
  LoopbackServer server;
  PopularityStore store(folder.path() / "data" / "tranco-domains.txt");
  PopularityUpdater::Options options;
  options.url = server.url();
  options.timeout = std::chrono::milliseconds(20'000);
  options.maxExtractedBytes = 4 * 1024 * 1024;
  PopularityUpdater updater(store, options);
  const auto& psl = PublicSuffixList::shared();

  server.answer(200, makeZip({{"top-1m.csv", trancoCsv(30'000)}, {"other.csv", "1,x.test\n"}}));
  EXPECT_TRUE(updater.refreshIfStale(86400));
  EXPECT_FALSE(updater.running());
  EXPECT_EQ(store.tier("site1.test", psl), Tier::top1k);
  EXPECT_EQ(store.tier("site1000.test", psl), Tier::top1k);
  EXPECT_EQ(store.tier("site1001.test", psl), Tier::top10k);
  EXPECT_EQ(store.tier("site100000.test", psl), Tier::top100k);
  EXPECT_EQ(store.tier("site100001.test", psl), Tier::top1m);
  EXPECT_EQ(store.tier("www.bücher.example", psl), Tier::top1k);
  EXPECT_EQ(store.tier("x.test", psl), std::nullopt);  // only the first entry is read
  EXPECT_FALSE(updater.refreshIfStale(86400));         // fresh now

  const auto expectFailure = [&](PopularityError::Kind kind) {
    try {
      updater.refresh();
      ADD_FAILURE() << "refresh succeeded";
    } catch (const PopularityError& error) {
      EXPECT_EQ(error.kind, kind) << error.what();
    }
    EXPECT_FALSE(updater.running());
    EXPECT_EQ(store.tier("site1001.test", psl), Tier::top10k);  // the old list answers
  };
  server.answer(404, "not here");
  expectFailure(PopularityError::Kind::http);
  server.answer(200, "this is no zip");
  expectFailure(PopularityError::Kind::archive);
  server.answer(200, makeZip({{"top-1m.csv", "1,a.test\n2,b.test\n"}}));
  expectFailure(PopularityError::Kind::emptyList);
  // Zip bombs: a few KiB that inflate to 64 MiB, with that size in the headers and with a lie.
  const std::string zeros(64 * 1024 * 1024, '0');
  server.answer(200, makeZip({{"top-1m.csv", zeros}}));
  expectFailure(PopularityError::Kind::tooLarge);
  server.answer(200, claimingTinySizes(makeZip({{"top-1m.csv", zeros}})));
  expectFailure(PopularityError::Kind::tooLarge);
  // Too many rows within the byte limit.
  EXPECT_THROW(PopularityUpdater::firstEntry(makeZip({{"a", std::string(1000, '\n')}}), 1 << 20,
                                             999),
               PopularityError);
}

TEST(PopularityUpdater, OneRefreshAtATime) {
  testing::TemporaryDirectory folder;
  LoopbackServer server;
  PopularityStore store(folder.path() / "tranco-domains.txt");
  PopularityUpdater::Options options;
  options.url = server.url();
  PopularityUpdater updater(store, options);
  server.answer(200, makeZip({{"top-1m.csv", trancoCsv(1'000)}}));
  server.hold();
  auto arrived = server.arrived();
  auto first = std::async(std::launch::async, [&] { return updater.refreshIfStale(60); });
  arrived.wait();
  EXPECT_TRUE(updater.running());
  EXPECT_FALSE(updater.refreshIfStale(60));  // returns at once while the first one runs
  server.release();
  EXPECT_TRUE(first.get());
  EXPECT_FALSE(updater.running());
  EXPECT_EQ(store.tier("site999.test", PublicSuffixList::shared()), Tier::top1k);
}

}  // namespace
}  // namespace linkferry
