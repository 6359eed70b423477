// Naming an object store and its credentials, and reading its answers.
#include "TestChild.h"
#include "objects/FolderStore.h"
#include "objects/ObjectStore.h"
#include "objects/Xml.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using namespace cloud::objects;

namespace {

class ObjectsAddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sonarbox-objects-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ::setenv("SONARBOX_S3_ACCESS_KEY_ID", "env-key-1234", 1);
        ::setenv("SONARBOX_S3_SECRET_ACCESS_KEY", "env-secret-5678", 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The refusal's text, or empty when the address was taken.
    std::string refusal(const std::string &address, const fs::path &credentials = {}) {
        try {
            openObjectStore(address, dir, credentials);
            return {};
        } catch (const ObjectError &e) {
            return e.what();
        }
    }

    fs::path dir;
};

TEST_F(ObjectsAddressTest, NamesABucketOrTheFolder) {
    const auto folder = openObjectStore("", dir);
    EXPECT_TRUE(folder->isLocal());
    EXPECT_TRUE(fs::is_directory(dir / "media"));

    const auto bucket =
        openObjectStore("s3://music-1/songs?endpoint=http://127.0.0.1:9000/&region=eu-west-1", dir);
    EXPECT_FALSE(bucket->isLocal());
    EXPECT_EQ(bucket->describe(), "the bucket music-1 at http://127.0.0.1:9000");
    // An escaped address is the same address.
    EXPECT_EQ(
        openObjectStore("s3://music-1?endpoint=http%3A%2F%2F127.0.0.1%3A9000", dir)->describe(),
        "the bucket music-1 at http://127.0.0.1:9000");
}

TEST_F(ObjectsAddressTest, RefusesMalformedAddresses) {
    EXPECT_NE(refusal("s3://Music?endpoint=http://h:1").find("bucket"), std::string::npos);
    EXPECT_NE(refusal("s3://ab?endpoint=http://h:1").find("bucket"), std::string::npos);
    EXPECT_NE(refusal("s3://music").find("endpoint="), std::string::npos);
    EXPECT_NE(refusal("s3://music?endpoint=ftp://h:1").find("endpoint="), std::string::npos);
    EXPECT_NE(refusal("s3://music?endpoint=http://h:1/path").find("without a path"),
              std::string::npos);
    EXPECT_NE(refusal("s3://music?endpoint=http://h:1&regoin=x").find("\"regoin\""),
              std::string::npos);
    EXPECT_NE(refusal("gs://music?endpoint=http://h:1").find("s3://"), std::string::npos);
    EXPECT_NE(refusal("", dir / "creds").find("--objects"), std::string::npos);
    // Credentials in the address would end up in logs and process lists.
    const std::string inUrl = refusal("s3://music?endpoint=http://id:secret-9@h:1");
    EXPECT_NE(inUrl.find("never in"), std::string::npos);
    EXPECT_EQ(inUrl.find("secret-9"), std::string::npos);
}

TEST_F(ObjectsAddressTest, CredentialsFromAPrivateFileOrTheEnvironment) {
    const fs::path file = dir / "creds";
    std::ofstream(file)
        << "# the test bucket\n access_key_id = file:key \r\nsecret_access_key=s=cret\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    const Credentials fromFile = loadCredentials(file);
    EXPECT_EQ(fromFile.accessKeyId, "file:key");
    EXPECT_EQ(fromFile.secretAccessKey, "s=cret");
    const Credentials fromEnv = loadCredentials({});
    EXPECT_EQ(fromEnv.accessKeyId, "env-key-1234");
    EXPECT_EQ(fromEnv.secretAccessKey, "env-secret-5678");

    fs::permissions(file, fs::perms::group_read, fs::perm_options::add);
    EXPECT_NE(refusal("s3://music?endpoint=http://h:1", file).find("0600"), std::string::npos);
    std::ofstream(dir / "half") << "access_key_id=only-the-id\n";
    fs::permissions(dir / "half", fs::perms::owner_read, fs::perm_options::replace);
    const std::string half = refusal("s3://music?endpoint=http://h:1", dir / "half");
    EXPECT_NE(half.find("secret_access_key"), std::string::npos);
    EXPECT_EQ(half.find("only-the-id"), std::string::npos);
    ::unsetenv("SONARBOX_S3_SECRET_ACCESS_KEY");
    EXPECT_NE(refusal("s3://music?endpoint=http://h:1").find("SONARBOX_S3_SECRET_ACCESS_KEY"),
              std::string::npos);
}

TEST(ObjectsFolderTest, KeysNeverLeaveTheMediaFolder) {
    char pattern[] = "/tmp/sonarbox-objects-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    FolderStore store(dir);
    std::ofstream(dir / "secret.key") << "key";
    for (const std::string key : {"../secret.key", "..", ".", "", "a/b"}) {
        EXPECT_EQ(store.open(key), nullptr) << key;
        EXPECT_EQ(store.size(key), std::nullopt) << key;
        store.remove(key);
    }
    EXPECT_TRUE(fs::exists(dir / "secret.key"));
    EXPECT_TRUE(fs::is_directory(dir / "media"));
    fs::remove_all(dir);
}

TEST(ObjectsXmlTest, ReadsTheElementsOfAnAnswer) {
    const auto doc = xml::parse(
        R"(<?xml version="1.0" encoding="UTF-8"?>
<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/">
  <IsTruncated>true</IsTruncated>
  <Contents><Key>a&amp;b &lt;1&gt;</Key><Size>12</Size></Contents>
  <Contents><Key><![CDATA[c]]></Key><Size/></Contents>
  <NextContinuationToken>tok/+=</NextContinuationToken>
</ListBucketResult>)");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->name, "ListBucketResult");
    EXPECT_EQ(doc->childText("IsTruncated"), "true");
    EXPECT_EQ(doc->childText("NextContinuationToken"), "tok/+=");
    const auto contents = doc->all("Contents");
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0]->childText("Key"), "a&b <1>");
    EXPECT_EQ(contents[0]->childText("Size"), "12");
    EXPECT_EQ(contents[1]->childText("Key"), "c");
    EXPECT_EQ(contents[1]->childText("Size"), "");
    EXPECT_EQ(doc->child("Missing"), nullptr);

    EXPECT_FALSE(xml::parse("<Error><Code>NoSuchKey</Code>"));
    EXPECT_FALSE(xml::parse(""));
    // An external entity is never fetched nor read.
    const auto external = xml::parse(R"(<?xml version="1.0"?>
<!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/hostname">]><r><k>&x;</k></r>)");
    EXPECT_TRUE(!external || external->childText("k").empty());
}

} // namespace
