// A private OpenLDAP server for tests (POSIX only): its own folder in a temporary directory, a
// configuration with the directory's schema, an ldapi socket in that folder and a free loopback
// port, a root entry "o=zel"; stopped and removed with the object. Never the system's slapd.
// Each test takes a fresh base below the root (NewBase), so tests share one server per process.
// Two servers may be providers of one replicated directory (Replica): each copies the other's
// writes (syncrepl, refreshAndPersist, multiprovider); only the first makes the root entry.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "zel/runtime/testing/portable.h"

namespace zel::dir::testing {

// A provider of a two-provider directory: its server ID, its port and its peer's.
struct Replica {
  int serverID = 0;
  int port = 0;
  int peerPort = 0;
};

class Slapd {
 public:
  // A free loopback port, for a Replica.
  static int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    close(s);
    return ntohs(address.sin_port);
  }

  // `schema`: the schema file to include ("" for none, to see a server without it); `replica`:
  // its place in a replicated directory, when it has one.
  explicit Slapd(const std::string& schema, const Replica& replica = {})
      : schema_(schema), replica_(replica), port_(replica.port != 0 ? replica.port : FreePort()) {
    setenv("LDAPNOINIT", "1", 1);  // the machine's ldap.conf and ~/.ldaprc play no part
    std::ofstream(folder_.File("password")) << "secret\n";
    std::ofstream(folder_.File("wrong")) << "not the password\n";
    Configure();
    Start();
  }
  Slapd(const Slapd&) = delete;
  Slapd& operator=(const Slapd&) = delete;
  ~Slapd() { Stop(); }

  // Stops the server (SIGTERM, then waits for it); Start runs it again on the same data.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  void Start() {
    if (pid_ > 0) return;
    const std::string urls = LdapiUri() + " " + LdapUri() + "/";
    unlink(socket_.c_str());
    pid_ = fork();
    if (pid_ == 0) {
      const int log = open(folder_.File("slapd.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      const int none = open("/dev/null", O_RDONLY);
      dup2(none, 0);
      dup2(log, 1);
      dup2(log, 2);
      execl("/usr/sbin/slapd", "slapd", "-f", folder_.File("slapd.conf").c_str(), "-h",
            urls.c_str(), "-d", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready once the ldapi socket takes connections (about 80 ms).
    for (int i = 0; i < 500 && !Accepts(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // A new, empty base entry "ou=NAME,o=zel"; its DN.
  std::string NewBase(const std::string& name) {
    const std::string dn = "ou=" + name + ",o=zel";
    Add("dn: " + dn + "\nobjectClass: organizationalUnit\nou: " + name + "\n");
    return dn;
  }
  // Adds LDIF as the root user through ldapadd: its exit status.
  int Add(const std::string& ldif) {
    const std::string file = folder_.File("add.ldif");
    std::ofstream(file) << ldif;
    const std::string command = "LDAPNOINIT=1 ldapadd -x -H " + LdapUri() +
                                " -D cn=admin,o=zel -w secret -f " + file + " >/dev/null 2>&1";
    return std::system(command.c_str());
  }

  std::string LdapUri() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
  std::string LdapiUri() const { return "ldapi://" + Escaped(socket_); }
  std::string PasswordFile() const { return folder_.File("password"); }
  std::string WrongPasswordFile() const { return folder_.File("wrong"); }
  // A store location of `base` over TCP with the root's bind DN and password file.
  std::string Location(const std::string& base, const std::string& passwordFile = "") const {
    return LdapUri() + "/" + base + "????bindname=cn=admin%2co=zel,x-password-file=" +
           (passwordFile.empty() ? PasswordFile() : passwordFile);
  }
  const std::string& Folder() const { return folder_.Path(); }

 private:
  static std::string Escaped(const std::string& path) {
    std::string out;
    for (char c : path) out += c == '/' ? std::string("%2F") : std::string(1, c);
    return out;
  }
  bool Accepts() const {
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
  }
  void Configure() {
    const std::string db = folder_.File("db");
    mkdir(db.c_str(), 0700);
    std::ofstream conf(folder_.File("slapd.conf"));
    conf << "include /etc/ldap/schema/core.schema\n";
    if (!schema_.empty()) conf << "include " << schema_ << "\n";
    conf << "pidfile " << folder_.File("slapd.pid") << "\nargsfile " << folder_.File("slapd.args")
         << "\nloglevel none\nsizelimit unlimited\nmodulepath /usr/lib/ldap\n"
         << "moduleload back_mdb\nmoduleload syncprov\n";
    if (replica_.serverID != 0) conf << "serverID " << replica_.serverID << "\n";
    conf
        // SASL EXTERNAL over ldapi: this process's user is the root user.
        << "authz-regexp \"gidNumber=" << getgid() << "[+]uidNumber=" << getuid()
        << ",cn=peercred,cn=external,cn=auth\" \"cn=admin,o=zel\"\n"
        // The map is address space, not disk: the LDAP benchmark writes some 200,000 entries
        // over its repetitions, past the 1 GiB this once had, and then every write failed.
        << "database mdb\nmaxsize 17179869184\nsuffix \"o=zel\"\nrootdn \"cn=admin,o=zel\"\n"
        << "rootpw secret\ndirectory " << db << "\ndbnosync\n"
        << "index objectClass eq\n";
    if (!schema_.empty()) {
      conf << "index zelParent,zelUID,zelText,zelChange,zelContextName,zelContextDN eq\n"
           << "index entryCSN,entryUUID eq\n";
    }
    if (replica_.serverID != 0) {
      conf << "syncrepl rid=" << 100 + replica_.serverID
           << " provider=ldap://127.0.0.1:" << replica_.peerPort
           << " bindmethod=simple binddn=\"cn=admin,o=zel\" credentials=secret"
              " searchbase=\"o=zel\" type=refreshAndPersist retry=\"1 +\" timeout=1\n"
           << "multiprovider on\n";
    }
    if (!schema_.empty()) conf << "overlay syncprov\n";
    conf.close();
    if (replica_.serverID > 1) return;  // the root entry comes from the first provider
    Start();
    Add("dn: o=zel\nobjectClass: organization\no: zel\n");
    Stop();
  }

  zel::rt::testing::TempFolder folder_{"zelslapd"};
  std::string schema_;
  Replica replica_;
  int port_ = 0;
  std::string socket_ = folder_.File("ldapi");
  pid_t pid_ = -1;
};

}  // namespace zel::dir::testing
