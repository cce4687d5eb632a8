// HTTP GET against a loopback server, and reading the update answer.
#include <gtest/gtest.h>

#include <chrono>

#include "support/LoopbackHttpServer.hpp"
#include "update/JuInternetAccess.hpp"
#include "update/UpdateCheck.hpp"

namespace {

using testing_http::LoopbackHttpServer;
using update::HttpGet;

update::HttpOptions On(int port) {
  update::HttpOptions options;
  options.port = port;
  options.connectTimeout = std::chrono::milliseconds(2000);
  options.transferTimeout = std::chrono::milliseconds(1500);
  return options;
}

TEST(HttpGet, BodiesWithAndWithoutLength) {
  LoopbackHttpServer sized(LoopbackHttpServer::Response("200 OK", "Content-Length: 27\r\n",
                                                        "<a><version val=\"2.0\"/></a>"));
  EXPECT_EQ(HttpGet("127.0.0.1", "/version_check.php?id=3", On(sized.port())),
            "<a><version val=\"2.0\"/></a>");

  LoopbackHttpServer chunked(LoopbackHttpServer::Response(
      "200 OK", "Transfer-Encoding: chunked\r\n", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"));
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(chunked.port())), "hello world");

  LoopbackHttpServer unsized(LoopbackHttpServer::Response("200 OK", "", "until the end"));
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(unsized.port())), "until the end");

  LoopbackHttpServer missing(LoopbackHttpServer::Response("404 Not Found", "Content-Length: 19\r\n",
                                                          "<html>gone</html>\r\n"));
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(missing.port())), "<html>gone</html>\r\n");

  LoopbackHttpServer empty(LoopbackHttpServer::Response("200 OK", "Content-Length: 0\r\n", ""));
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(empty.port())), "");

  // Announced longer than sent: the read fails midway, which gives nothing.
  LoopbackHttpServer cut(
      LoopbackHttpServer::Response("200 OK", "Content-Length: 100\r\n", "only part"));
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(cut.port())), "");
}

TEST(HttpGet, TheRequestAsTheServerSawIt) {
  LoopbackHttpServer server(LoopbackHttpServer::Response("200 OK", "", "x"));
  HttpGet("127.0.0.1", "/version_check.php?id=3", On(server.port()));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& r = requests[0];
  EXPECT_EQ(r.rfind("GET /version_check.php?id=3 HTTP/1.1\r\n", 0), 0u) << r;
  EXPECT_NE(r.find("\r\nUser-Agent: Kelv Informer\r\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\r\nPragma: no-cache\r\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << r;
  EXPECT_EQ(r.find("Authorization"), std::string::npos) << r;  // only when asked
  EXPECT_EQ(r.find("Accept:"), std::string::npos) << r;
}

TEST(HttpGet, FailuresGiveTheEmptyText) {
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(LoopbackHttpServer::RefusedPort())), "");
  EXPECT_EQ(HttpGet("no-such-host.invalid", "/", On(80)), "");

  LoopbackHttpServer stalling("");  // accepts, never answers
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpGet("127.0.0.1", "/", On(stalling.port())), "");
  // Bounded by the transfer time-out (1.5 s here), not waiting for ever.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(HttpGet, ACancelledTransferEndsAtOnceWithNothing) {
  LoopbackHttpServer stalling("");
  std::atomic<bool> cancel{true};
  update::HttpOptions options = On(stalling.port());
  options.transferTimeout = std::chrono::minutes(5);
  options.cancel = &cancel;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpGet("127.0.0.1", "/", options), "");
  // At once, not when the transfer times out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(ExtractMarkup, FromTheFirstOpeningToTheLastClosingBracket) {
  EXPECT_EQ(update::ExtractMarkup("\r\n <a>x</a> \n\0"), "<a>x</a>");
  EXPECT_EQ(update::ExtractMarkup("no markup"), "");
  EXPECT_EQ(update::ExtractMarkup("text < only"), "");
  EXPECT_EQ(update::ExtractMarkup("> <"), "");
  EXPECT_EQ(update::ExtractMarkup(""), "");
}

TEST(UpdateAnswer, OfferedOnlyWhenTheVersionDiffers) {
  const std::string program = "1.0.7";
  auto answer = [](const std::string& val) {
    return "\r\n<?xml version=\"1.0\"?><root><version val=\"" + val + "\"/></root>\r\n";
  };
  EXPECT_FALSE(update::OfferUpdate(answer("1.0.7"), program));
  EXPECT_TRUE(update::OfferUpdate(answer("1.0.6"), program));  // older counts too
  EXPECT_TRUE(update::OfferUpdate(answer("2.0"), program));
  EXPECT_TRUE(update::OfferUpdate(answer("1.0.7 "), program));
  EXPECT_FALSE(update::OfferUpdate("<version val=\"2.0\"/>", program));   // root is "version"
  EXPECT_FALSE(update::OfferUpdate("<root><version/></root>", program));  // no "val"
  EXPECT_FALSE(update::OfferUpdate("<root><version val=\"2.0\"></root>", program));
  EXPECT_FALSE(update::OfferUpdate("", program));
  EXPECT_EQ(update::AnsweredVersion("junk<r><other/><version val=\"3\"/></r>junk"), "3");
}

}  // namespace
