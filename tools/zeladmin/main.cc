// zeladmin: the console a farm administrator runs. Parses the command line (CLI11), connects
// to the farm and runs one command.
#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <string>

#include "commands.h"

namespace {

using zeladmin::Command;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zeladmin: administer a farm (administrators, logons, tree, folders, icons, plug-ins, "
      "audit)"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("zeladmin ") + ZELADMIN_VERSION);
  zeladmin::FarmOptions farmOptions;
  zeladmin::Output out;
  app.add_option("--farm", farmOptions.address,
                 "farm address: unix:PATH, tls:HOST:PORT (default $ZEL_FARM, then the server's "
                 "socket)");
  app.add_option("--cert", farmOptions.cert, "this console's TLS certificate (PEM)");
  app.add_option("--key", farmOptions.key, "this console's TLS key (PEM)");
  app.add_option("--ca", farmOptions.ca, "the authority that signs the server's certificate");
  app.add_flag("--insecure", farmOptions.insecure, "allow tcp: addresses (tests only)");
  app.add_flag("--json", out.json, "print JSON (docs/ZELADMIN.md) instead of tables");
  app.add_flag("--quiet", out.quiet, "print nothing on success but what was asked for");

  // The command to run once the farm is reached.
  std::function<int(Command&)> run;

  std::string admin, passwordFile, authority = "unix", domain, name, list, file, uid;
  std::vector<std::string> names;

  auto* init = app.add_subcommand("init", "first administrator of a new farm (owner only)");
  init->add_option("--admin", admin, "the administrator's account (NAME or AUTHORITY:NAME)")
      ->required();
  init->add_option("--password-file", passwordFile, "its password (first line)")->required();
  init->callback([&] { run = [&](Command& c) { return zeladmin::Init(c, admin, passwordFile); }; });

  auto* admins = app.add_subcommand("admins", "administrators of the farm");
  admins->require_subcommand(1);
  admins->add_subcommand("list", "every administrator")->callback([&] {
    run = [](Command& c) { return zeladmin::AdminsList(c); };
  });
  auto* show = admins->add_subcommand("show", "one administrator");
  show->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  show->callback([&] { run = [&](Command& c) { return zeladmin::AdminsShow(c, name); }; });
  auto* add = admins->add_subcommand("add", "add an administrator (no privileges)");
  add->add_option("name", name, "account name")->required();
  add->add_option("--authority", authority, "account authority (default unix)");
  add->add_option("--domain", domain, "account domain");
  add->add_option("--password-file", passwordFile, "its password (first line)");
  add->callback([&] {
    run = [&](Command& c) { return zeladmin::AdminsAdd(c, name, authority, domain, passwordFile); };
  });
  auto* remove = admins->add_subcommand("remove", "remove administrators");
  remove->add_option("who", names, "NAME, AUTHORITY:NAME or UID")->required();
  remove->callback([&] { run = [&](Command& c) { return zeladmin::AdminsRemove(c, names); }; });
  auto* privileges = admins->add_subcommand("privileges", "an administrator's privileges");
  privileges->require_subcommand(1);
  auto* privGet = privileges->add_subcommand("get", "print them by name");
  privGet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  privGet->callback([&] { run = [&](Command& c) { return zeladmin::PrivilegesGet(c, name); }; });
  auto* privSet = privileges->add_subcommand("set", "replace them (names or numbers, commas)");
  privSet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  privSet->add_option("privileges", list, "P[,P...]")->required();
  privSet->callback(
      [&] { run = [&](Command& c) { return zeladmin::PrivilegesSet(c, name, list); }; });
  auto* password = admins->add_subcommand("password", "set an administrator's password");
  password->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  password->add_option("--password-file", passwordFile, "the new password (else a prompt)");
  password->callback(
      [&] { run = [&](Command& c) { return zeladmin::Password(c, name, passwordFile); }; });
  auto* unlock = admins->add_subcommand("unlock", "clear the slowing of failed logons");
  unlock->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  unlock->callback([&] { run = [&](Command& c) { return zeladmin::Unlock(c, name); }; });

  std::vector<std::string> items;
  auto* adminFolders = admins->add_subcommand("folders", "an administrator's allowed folders");
  adminFolders->require_subcommand(1);
  auto* foldersGet = adminFolders->add_subcommand("get", "the folders and their tasks");
  foldersGet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  foldersGet->callback(
      [&] { run = [&](Command& c) { return zeladmin::AdminFoldersGet(c, name); }; });
  auto* foldersSet =
      adminFolders->add_subcommand("set", "replace them (none given: no folder at all)");
  foldersSet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  foldersSet->add_option("folders", items, "FOLDER[=TASK,TASK...], FOLDER a DN or a 0x UID");
  foldersSet->callback(
      [&] { run = [&](Command& c) { return zeladmin::AdminFoldersSet(c, name, items); }; });
  auto* contact = admins->add_subcommand("contact", "an administrator's contact data");
  contact->require_subcommand(1);
  auto* contactGet = contact->add_subcommand("get", "the three contact lines");
  contactGet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  contactGet->callback([&] { run = [&](Command& c) { return zeladmin::ContactGet(c, name); }; });
  auto* contactSet =
      contact->add_subcommand("set", "replace the lines (up to three; the rest become empty)");
  contactSet->add_option("who", name, "NAME, AUTHORITY:NAME or UID")->required();
  contactSet->add_option("lines", items, "LINE [LINE [LINE]]");
  contactSet->callback(
      [&] { run = [&](Command& c) { return zeladmin::ContactSet(c, name, items); }; });
  auto* defaultUser = admins->add_subcommand("default-user", "the farm's default user");
  defaultUser->require_subcommand(1);
  auto* defaultSet = defaultUser->add_subcommand("set", "set it");
  defaultSet->add_option("account", name, "NAME or AUTHORITY:NAME (authority unix by default)")
      ->required();
  defaultSet->callback(
      [&] { run = [&](Command& c) { return zeladmin::DefaultUserSet(c, name); }; });

  auto* logon = app.add_subcommand("logon", "log on (resolved name, value, values, UIDs)");
  logon->add_option("name", name, "NAME or AUTHORITY:NAME")->required();
  logon->add_option("--password-file", passwordFile, "the password (else a prompt)");
  logon->callback(
      [&] { run = [&](Command& c) { return zeladmin::Logon(c, name, passwordFile); }; });

  auto* resolve = app.add_subcommand("resolve", "an administrator's UID, or a UID's account");
  resolve->add_option("name", name, "NAME or AUTHORITY:NAME");
  auto* byUID = resolve->add_option("--uid", uid, "the UID to resolve");
  resolve->callback([&] {
    if (byUID->count() > 0) {
      run = [&](Command& c) { return zeladmin::ResolveUID(c, uid); };
    } else {
      if (name.empty()) throw CLI::ValidationError("resolve", "give NAME or --uid UID");
      run = [&](Command& c) { return zeladmin::ResolveName(c, name); };
    }
  });

  app.add_subcommand("permissions", "the caller's allowed folders and tasks")->callback([&] {
    run = [](Command& c) { return zeladmin::Permissions(c); };
  });

  auto* icons = app.add_subcommand("icons", "icons of the console tree (PNG files)");
  icons->require_subcommand(1);
  auto* iconAdd = icons->add_subcommand("add", "register a 32x32 PNG as an icon");
  iconAdd->add_option("name", name, "icon name")->required();
  iconAdd->add_option("file", file, "FILE.png")->required();
  iconAdd->callback([&] { run = [&](Command& c) { return zeladmin::IconsAdd(c, name, file); }; });
  auto* iconExport = icons->add_subcommand("export", "write an icon as PNG");
  iconExport->add_option("name", name, "icon name")->required();
  iconExport->add_option("file", file, "FILE.png")->required();
  iconExport->callback(
      [&] { run = [&](Command& c) { return zeladmin::IconsExport(c, name, file); }; });
  icons->add_subcommand("ls", "every icon by name")->callback([&] {
    run = [](Command& c) { return zeladmin::IconsList(c); };
  });
  auto* iconRm = icons->add_subcommand("rm", "remove an icon");
  iconRm->add_option("name", name, "icon name")->required();
  iconRm->callback([&] { run = [&](Command& c) { return zeladmin::IconsRemove(c, name); }; });

  std::string dn, parent, icon, title;
  std::vector<std::string> assignments;
  int depth = 0, count = 0, timeout = 0;
  auto* tree = app.add_subcommand("tree", "the console tree (DNs are a/b/c)");
  tree->require_subcommand(1);
  auto* ls = tree->add_subcommand("ls", "draw the tree below DN (the root when none)");
  ls->add_option("dn", dn, "DN");
  ls->add_option("--depth", depth, "levels to show (0: all)")->check(CLI::NonNegativeNumber);
  ls->callback([&] { run = [&](Command& c) { return zeladmin::TreeLs(c, dn, depth); }; });
  auto* treeShow = tree->add_subcommand("show", "one node");
  treeShow->add_option("dn", dn, "DN")->required();
  treeShow->callback([&] { run = [&](Command& c) { return zeladmin::TreeShow(c, dn); }; });
  auto* treeAdd = tree->add_subcommand("add", "add a node (announced to every console)");
  treeAdd->add_option("dn", dn, "DN")->required();
  treeAdd->add_option("--icon", icon, "icon name");
  treeAdd->add_option("--title", title, "title (default: the name)");
  treeAdd->callback(
      [&] { run = [&](Command& c) { return zeladmin::TreeAdd(c, dn, icon, title); }; });
  auto* treeRm = tree->add_subcommand("rm", "remove a node and its subtree");
  treeRm->add_option("dn", dn, "DN")->required();
  treeRm->callback([&] { run = [&](Command& c) { return zeladmin::TreeRm(c, dn); }; });
  auto* mv = tree->add_subcommand("mv", "move a node and its subtree below another");
  mv->add_option("dn", dn, "DN")->required();
  mv->add_option("new-parent", parent, "the new parent's DN (\"\": the root)")->required();
  mv->callback([&] { run = [&](Command& c) { return zeladmin::TreeMv(c, dn, parent); }; });
  auto* set = tree->add_subcommand("set", "change fields: title, flags, ssid, icon");
  set->add_option("dn", dn, "DN")->required();
  set->add_option("assignments", assignments, "FIELD=VALUE")->required();
  set->callback([&] { run = [&](Command& c) { return zeladmin::TreeSet(c, dn, assignments); }; });
  auto* watch = tree->add_subcommand("watch", "print the tree's notifications as they come");
  watch->add_option("--count", count, "stop after N notifications")->check(CLI::NonNegativeNumber);
  watch->add_option("--timeout", timeout, "stop after S seconds")->check(CLI::NonNegativeNumber);
  watch->callback(
      [&] { run = [&](Command& c) { return zeladmin::TreeWatch(c, count, timeout); }; });

  auto* monitor = app.add_subcommand(
      "monitor",
      "every event through the farm server (requests, replies, posts, notifications), "
      "secrets blanked, live");
  monitor->add_option("--count", count, "stop after N events")->check(CLI::NonNegativeNumber);
  monitor->add_option("--timeout", timeout, "stop after S seconds")->check(CLI::NonNegativeNumber);
  monitor->callback(
      [&] { run = [&](Command& c) { return zeladmin::Monitor(c, count, timeout); }; });

  std::string newName, to;
  auto* folders = app.add_subcommand("folders", "folders of the tree: each change one transaction");
  folders->require_subcommand(1);
  auto* folderCreate = folders->add_subcommand("create", "a folder at DN (its parent must exist)");
  folderCreate->add_option("dn", dn, "DN")->required();
  folderCreate->callback([&] { run = [&](Command& c) { return zeladmin::FoldersCreate(c, dn); }; });
  auto* folderRename = folders->add_subcommand("rename", "rename a folder; its members move along");
  folderRename->add_option("dn", dn, "DN")->required();
  folderRename->add_option("new-name", newName, "the new last component")->required();
  folderRename->callback(
      [&] { run = [&](Command& c) { return zeladmin::FoldersRename(c, dn, newName); }; });
  auto* folderRm = folders->add_subcommand("rm", "remove an empty folder");
  folderRm->add_option("dn", dn, "DN")->required();
  folderRm->callback([&] { run = [&](Command& c) { return zeladmin::FoldersRemove(c, dn); }; });
  auto* folderMove = folders->add_subcommand("move", "move members (with their subtrees)");
  folderMove->add_option("members", items, "the members' DNs")->required();
  folderMove->add_option("--to", to, "the folder they go into (\"/\": the root)")->required();
  folderMove->callback(
      [&] { run = [&](Command& c) { return zeladmin::FoldersMove(c, items, to); }; });

  auto* plugins = app.add_subcommand("plugins", "plug-in records of the consoles");
  plugins->require_subcommand(1);
  auto* pluginAdd = plugins->add_subcommand("add", "register a plug-in record");
  pluginAdd->add_option("name", name, "plug-in name")->required();
  pluginAdd->callback([&] { run = [&](Command& c) { return zeladmin::PluginsAdd(c, name); }; });
  auto* pluginShow = plugins->add_subcommand("show", "one plug-in record");
  pluginShow->add_option("name", name, "plug-in name")->required();
  pluginShow->callback([&] { run = [&](Command& c) { return zeladmin::PluginsShow(c, name); }; });
  plugins->add_subcommand("ls", "every plug-in record by name")->callback([&] {
    run = [](Command& c) { return zeladmin::PluginsList(c); };
  });

  std::string since, who;
  auto* audit = app.add_subcommand("audit", "who changed what, oldest first");
  audit->add_option("--since", since, "from this time (YYYY-MM-DD[THH:MM:SS] UTC, or ms)");
  audit->add_option("--who", who, "only this acting account (AUTHORITY:NAME)");
  audit->callback([&] { run = [&](Command& c) { return zeladmin::Audit(c, since, who); }; });

  std::string document;
  auto* importCommand =
      app.add_subcommand("import", "a farm document (JSON) onto the farm, idempotently");
  importCommand->add_option("file", document, "FILE.json")->required();
  importCommand->callback([&] { run = [&](Command& c) { return zeladmin::Import(c, document); }; });

  bool includeSecrets = false;
  auto* exportCommand = app.add_subcommand("export", "the farm as a document (JSON)");
  exportCommand->add_option("file", document, "FILE.json (default: standard output)");
  exportCommand->add_flag("--include-secrets", includeSecrets, "password hashes (owner only)");
  exportCommand->callback(
      [&] { run = [&](Command& c) { return zeladmin::Export(c, document, includeSecrets); }; });

  std::string ticketOut, ticketFile;
  auto* ticket = app.add_subcommand("ticket", "logon tickets of the acting administrator");
  ticket->require_subcommand(1);
  auto* issue = ticket->add_subcommand("issue", "issue a ticket (to --out F, mode 0600)");
  issue->add_option("--out", ticketOut, "file for the 120-byte ticket (else hex on stdout)");
  issue->callback([&] { run = [&](Command& c) { return zeladmin::TicketIssue(c, ticketOut); }; });
  auto* accounts = ticket->add_subcommand("accounts", "the administrator UIDs a ticket names");
  accounts->add_option("--ticket-file", ticketFile, "the ticket (120 bytes)")->required();
  accounts->callback(
      [&] { run = [&](Command& c) { return zeladmin::TicketAccounts(c, ticketFile); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return zeladmin::kExitUsage;
  }
  zeladmin::FarmSession farm(farmOptions);
  zeladmin::Failure failure;
  if (!farm.Connect(&failure)) {
    std::cerr << "zeladmin: " << zeladmin::ErrorLine(failure) << '\n';
    return zeladmin::ExitStatus(failure);
  }
  Command command{farm, out};
  return run(command);
}
