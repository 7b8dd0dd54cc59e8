// The vux2mpeg program from outside: command line, files and descriptors,
// exit statuses and messages.
#include <gtest/gtest.h>

#include "../exec_wrapper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "fixtures.h"

namespace {

struct run_result {
  int status = -1;
  Bytes out, err;
};

Bytes read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const std::string &path, const Bytes &data) {
  std::ofstream f(path, std::ios::binary);
  f << data;
}

struct temp_dir {
  std::string path;
  temp_dir() {
    char tmpl[] = "/tmp/vux2mpeg-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~temp_dir() { system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string &name) const { return path + "/" + name; }
};

enum class input_kind { pipe, closed, null };

// Runs the program in `cwd` with `args`; `input` goes through a pipe to its
// standard input (or standard input is closed). Standard output and error
// are captured through files; `err_fd`, when given, becomes its standard
// error instead.
run_result run(const std::vector<std::string> &args, const std::string &cwd,
               const Bytes &input = "", input_kind kind = input_kind::null, int err_fd = -1) {
  run_result r;
  std::string out_path = cwd + "/.stdout", err_path = cwd + "/.stderr";
  int in_pipe[2];
  if (pipe(in_pipe) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = err_fd >= 0 ? err_fd : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    close(in_pipe[1]);
    if (kind == input_kind::pipe) {
      dup2(in_pipe[0], 0);
    } else if (kind == input_kind::closed) {
      close(0);
    } else {
      int n = open("/dev/null", O_RDONLY);
      dup2(n, 0);
    }
    close(in_pipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(120);
    umask(022);
    std::vector<std::string> wrapper = exec_wrapper();
    std::vector<char *> argv;
    for (auto &w : wrapper) argv.push_back(w.data());
    argv.push_back(const_cast<char *>(VUX2MPEG_BIN));
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  signal(SIGPIPE, SIG_IGN);
  if (kind == input_kind::pipe) {
    size_t done = 0;
    while (done < input.size()) {
      ssize_t w = write(in_pipe[1], input.data() + done, input.size() - done);
      if (w <= 0) break;
      done += size_t(w);
    }
  }
  close(in_pipe[1]);
  int st;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.out = read_file(out_path);
  r.err = err_fd >= 0 ? "" : read_file(err_path);
  return r;
}

const Bytes V = pes(0xE0, "", pattern(3000, 1)), A = pes(0xC0, "", pattern(700, 3));

Bytes sample_container() {
  Bytes c;
  for (int k = 0; k < 5; k++) c += container_block({V, A, 1, -1, -1, vux::BLOCK_SIZE_LONG});
  return c;
}

Bytes expected_output() {
  mem_source src;
  src.data = sample_container();
  return convert_memory(src).out;
}

const std::string USAGE_TAIL =
    " <inputfile> <outputfile>\n\n\t\tBoth <inputfile> and <outputfile> can be -, in which case "
    "stdin or stdout will be used.\n\n";

TEST(Program, WrongArgumentCountGivesUsageAnd255) {
  temp_dir d;
  for (auto args : {std::vector<std::string>{}, {"a"}, {"a", "b", "c"}}) {
    run_result r = run(args, d.path);
    EXPECT_EQ(r.status, 255) << args.size();
    EXPECT_EQ(r.err, "\nUsage: " + std::string(VUX2MPEG_BIN) + USAGE_TAIL) << args.size();
    EXPECT_EQ(r.out, "");
  }
}

TEST(Program, FilesThatCannotBeOpenedGive3) {
  temp_dir d;
  write_file(d.file("rec.vux"), sample_container());
  run_result r = run({"missing.vux", "out.mpg"}, d.path);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "open file error.(missing.vux)\n");
  EXPECT_NE(access(d.file("out.mpg").c_str(), F_OK), 0) << "output created for a missing input";
  r = run({"rec.vux", "no/such/dir/out.mpg"}, d.path);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "open file error.(no/such/dir/out.mpg)\n");
}

TEST(Program, FileToFileAndPipeToPipeGiveTheSameBytes) {
  temp_dir d;
  Bytes want = expected_output();
  ASSERT_EQ(want.size(), 15u * vux::PACK_SIZE);
  write_file(d.file("rec.vux"), sample_container());
  run_result r = run({"rec.vux", "out.mpg"}, d.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(read_file(d.file("out.mpg")) == want);
  struct stat st;
  ASSERT_EQ(stat(d.file("out.mpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  r = run({"-", "-"}, d.path, sample_container(), input_kind::pipe);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out == want);
}

TEST(Program, ADashWithMoreIsAFileName) {
  temp_dir d;
  write_file(d.file("-x"), sample_container());
  run_result r = run({"-x", "-y"}, d.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_file(d.file("-y")) == expected_output());
}

TEST(Program, AnExistingOutputIsTruncated) {
  temp_dir d;
  write_file(d.file("rec.vux"), sample_container());
  write_file(d.file("out.mpg"), Bytes(1 << 20, 'j'));
  run_result r = run({"rec.vux", "out.mpg"}, d.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_file(d.file("out.mpg")) == expected_output());
}

TEST(Program, AnInputOpenedAsDescriptor0IsKept) {
  temp_dir d;
  write_file(d.file("rec.vux"), sample_container());
  run_result r = run({"rec.vux", "-"}, d.path, "", input_kind::closed);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out == expected_output());
}

TEST(Program, EmptyAndShortInputsGiveEmptyOutput) {
  temp_dir d;
  for (size_t n : {size_t(0), size_t(279)}) {
    run_result r = run({"-", "-"}, d.path, Bytes(n, 0), input_kind::pipe);
    EXPECT_EQ(r.status, 0) << n;
    EXPECT_EQ(r.out, "") << n;
    EXPECT_EQ(r.err, "") << n;
  }
}

TEST(Program, AFullOutputDeviceGives1) {
  temp_dir d;
  write_file(d.file("rec.vux"), sample_container());
  run_result r = run({"rec.vux", "/dev/full"}, d.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pack_header write: No space left on device\n");
}

TEST(Program, ProgressOnlyOnATerminal) {
  temp_dir d;
  write_file(d.file("rec.vux"), sample_container());
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  run_result r = run({"rec.vux", "out.mpg"}, d.path, "", input_kind::null, slave);
  close(slave);
  Bytes tty;
  char buf[512];
  pollfd p{master, POLLIN, 0};
  while (poll(&p, 1, 200) > 0) {
    ssize_t k = read(master, buf, sizeof buf);
    if (k <= 0) break;
    tty.append(buf, size_t(k));
  }
  close(master);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(tty.find("%"), std::string::npos) << tty;
  EXPECT_NE(tty.find("MB/s"), std::string::npos) << tty;
  EXPECT_EQ(tty.back(), '\r') << "progress line not erased: " << tty;
}

}  // namespace
