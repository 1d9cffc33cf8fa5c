// A devices file in a private temporary folder, with the changes the
// discovery stand-in must notice: new text, a new modification time, a
// replacement by another file (new inode) and removal.
#ifndef TESTS_STANDINS_TEMP_DEVICES_FILE_H
#define TESTS_STANDINS_TEMP_DEVICES_FILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

class TempDevicesFile {
 public:
  TempDevicesFile() {
    char pattern[] = "/tmp/qxmodinst-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    folder_ = made == nullptr ? "/tmp" : made;
    path_ = folder_ + "/devices.txt";
  }
  ~TempDevicesFile() {
    std::remove(path_.c_str());
    std::remove((path_ + ".new").c_str());
    rmdir(folder_.c_str());
  }
  TempDevicesFile(const TempDevicesFile &) = delete;
  TempDevicesFile &operator=(const TempDevicesFile &) = delete;

  const std::string &path() const { return path_; }

  // Rewrites the file in place (same inode).
  void Write(const std::string &text) const { WriteTo(path_, text); }

  // Puts a new file with text in the old one's place (new inode).
  void Replace(const std::string &text) const {
    WriteTo(path_ + ".new", text);
    ASSERT_EQ(std::rename((path_ + ".new").c_str(), path_.c_str()), 0);
  }

  void SetModified(time_t seconds, long nanoseconds) const {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  }

  timespec Modified() const {
    struct stat st {};
    EXPECT_EQ(stat(path_.c_str(), &st), 0);
    return st.st_mtim;
  }

  void Remove() const { ASSERT_EQ(std::remove(path_.c_str()), 0); }

 private:
  static void WriteTo(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    ASSERT_TRUE(out.good()) << path;
  }

  std::string folder_;
  std::string path_;
};

#endif
