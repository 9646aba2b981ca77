#include "ports/devices.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

namespace vk::ports {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::optional<std::string> ReadLink(const std::string& path) {
  char buffer[4096];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof buffer)) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

// The first line of a small text file (sysfs attribute, proc comm).
std::optional<std::string> ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// Entry names, sorted; none when the directory cannot be read.
std::vector<std::string> List(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string ModeText(mode_t mode) {
  std::string out = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISREG(mode) ? "-" : "?";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) out += (mode & (0400 >> bit)) ? letters[bit] : '-';
  return out;
}

std::string UserName(uid_t uid) {
  const passwd* pw = getpwuid(uid);
  return pw ? pw->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* gr = getgrgid(gid);
  return gr ? gr->gr_name : std::to_string(gid);
}

// Which processes hold which file: link target -> holders, from /proc/*/fd.
// Entries this user may not read are skipped.
std::map<std::string, std::vector<Holder>> OpenFiles(const std::string& root) {
  std::map<std::string, std::vector<Holder>> held;
  for (const std::string& pid : List(root + "/proc")) {
    if (!IsNumber(pid)) continue;
    const std::string dir = root + "/proc/" + pid;
    std::optional<std::string> comm;
    for (const std::string& fd : List(dir + "/fd")) {
      const std::optional<std::string> target = ReadLink(dir + "/fd/" + fd);
      if (!target) continue;
      std::vector<Holder>& holders = held[*target];
      if (!holders.empty() && holders.back().pid == std::stoi(pid)) continue;
      if (!comm) comm = ReadLine(dir + "/comm").value_or("?");
      holders.push_back({std::stoi(pid), *comm});
    }
  }
  return held;
}

}  // namespace

std::vector<Holder> HoldersOf(const std::string& root, const std::string& path) {
  const auto held = OpenFiles(root);
  const auto it = held.find(path);
  return it == held.end() ? std::vector<Holder>{} : it->second;
}

std::optional<Ownership> OwnershipOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return Ownership{UserName(st.st_uid), GroupName(st.st_gid), ModeText(st.st_mode)};
}

std::optional<std::string> Resolve(const std::string& root, const std::string& logical) {
  const std::vector<std::string> parts = Split(logical);
  std::deque<std::string> rest(parts.begin(), parts.end());
  std::vector<std::string> done;
  int links = 0;
  while (!rest.empty()) {
    const std::string part = rest.front();
    rest.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      if (!done.empty()) done.pop_back();
      continue;
    }
    done.push_back(part);
    const std::string here = root + Join(done);
    struct stat st;
    if (lstat(here.c_str(), &st) != 0) return std::nullopt;
    if (!S_ISLNK(st.st_mode)) continue;
    const std::optional<std::string> target = ReadLink(here);
    if (!target || ++links > 40) return std::nullopt;
    done.pop_back();
    if ((*target)[0] == '/') done.clear();
    const std::vector<std::string> more = Split(*target);
    rest.insert(rest.begin(), more.begin(), more.end());
  }
  return Join(done);
}

std::vector<SerialDevice> SerialDevices(const std::string& root) {
  std::map<std::string, std::vector<std::string>> by_id;  // resolved path -> names
  for (const std::string& name : List(root + "/dev/serial/by-id")) {
    const std::string link = "/dev/serial/by-id/" + name;
    if (const std::optional<std::string> target = Resolve(root, link)) by_id[*target].push_back(link);
  }
  std::vector<SerialDevice> devices;
  for (const std::string& tty : List(root + "/sys/class/tty")) {
    const std::string cls = "/sys/class/tty/" + tty;
    const std::optional<std::string> device = Resolve(root, cls + "/device");
    if (!device) continue;
    SerialDevice d;
    d.tty = tty;
    d.path = "/dev/" + tty;
    std::replace(d.path.begin(), d.path.end(), '!', '/');  // sysfs writes "/" in a name as "!"
    if (const std::optional<std::string> driver = ReadLink(root + *device + "/driver")) d.driver = Base(*driver);
    d.no_uart = ReadLine(root + cls + "/type") == "0";

    // A USB adapter: the USB device is the nearest directory above with an idVendor.
    for (std::string dir = *device; dir.size() > 4 && dir.rfind("/sys/", 0) == 0; dir = Parent(dir)) {
      const std::optional<std::string> vendor = ReadLine(root + dir + "/idVendor");
      if (!vendor) continue;
      d.usb_id = *vendor + ":" + ReadLine(root + dir + "/idProduct").value_or("?");
      d.usb_serial = ReadLine(root + dir + "/serial").value_or("");
      break;
    }
    for (const std::string& file :
         {"/sys/bus/usb-serial/devices/" + tty + "/latency_timer", cls + "/device/latency_timer"}) {
      const std::optional<std::string> value = ReadLine(root + file);
      if (!value || !IsNumber(*value)) continue;
      d.latency_file = file;
      d.latency_ms = std::stoi(*value);
      break;
    }

    struct stat st;
    const std::string node = root + d.path;
    d.exists = stat(node.c_str(), &st) == 0;
    if (d.exists) {
      d.mode = ModeText(st.st_mode);
      d.owner = UserName(st.st_uid);
      d.group = GroupName(st.st_gid);
      d.accessible = access(node.c_str(), R_OK | W_OK) == 0;
    }
    const std::string real = Resolve(root, d.path).value_or(d.path);
    for (const std::string& path : {d.path, real}) {
      if (auto it = by_id.find(path); it != by_id.end() && d.by_id.empty()) d.by_id = it->second;
    }
    devices.push_back(std::move(d));
  }
  return devices;
}

void FindHolders(const std::string& root, std::vector<SerialDevice>& devices) {
  const std::map<std::string, std::vector<Holder>> held = OpenFiles(root);
  for (SerialDevice& d : devices) {
    const std::string real = Resolve(root, d.path).value_or(d.path);
    for (const std::string& path : {d.path, real}) {
      if (auto it = held.find(path); it != held.end() && d.holders.empty()) d.holders = it->second;
    }
  }
}

}  // namespace vk::ports
