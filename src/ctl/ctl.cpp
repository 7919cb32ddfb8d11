#include "ctl/ctl.h"

#include <algorithm>
#include <iostream>
#include <optional>

#include "bridge/bridge_address.h"
#include "bridge/http_tls.h"
#include "ctl/actions.h"
#include "ctl/session.h"

namespace lumora::ctl {
namespace {

Options parse(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const std::string& flag) -> std::string {
            if (a.size() > flag.size() && a[flag.size()] == '=') return a.substr(flag.size() + 1);
            if (i + 1 >= args.size()) throw UsageError{flag + " needs a value"};
            return args[++i];
        };
        auto is = [&](const std::string& flag) { return a == flag || a.rfind(flag + "=", 0) == 0; };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (is("--bridge")) {
            o.bridge = typedAddress(value("--bridge"));
        } else if (is("--trust-fingerprint")) {
            const std::string typed = value("--trust-fingerprint");
            o.trustFingerprint = normalizedFingerprint(typed);
            if (o.trustFingerprint->empty())
                throw UsageError{
                    "--trust-fingerprint takes a SHA-256 fingerprint: 64 hex digits, "
                    "with or without colons"};
        } else if (is("--user")) {
            o.user = value("--user");
        } else if (is("--in")) {
            auto v = number(value("--in"));
            if (!v || (*v != 5 && *v != 30 && *v != 60))
                throw UsageError{"--in takes 5, 30 or 60 (minutes)"};
            o.in = v;
        } else if (a.size() > 1 && a[0] == '-' && !number(a)) {
            throw UsageError{"unknown option " + a};
        } else {
            o.words.push_back(a);
        }
    }
    return o;
}

}  // namespace

std::string usage() {
    return R"(lumora-ctl: control the lights behind your bridge from the command line.

Usage: lumora-ctl [--bridge ADDRESS] [--user NAME] [--trust-fingerprint SHA256] [--demo]
                  [--json] COMMAND

Commands:
  discover              find the bridge's address on the local network
  pair [ADDRESS]        ask the bridge for a user name (press its link button first)
                        and store address and user name for lumora and lumora-ctl
  lights | rooms | scenes
                        list them (--json: machine-readable records)
  on TARGET | off TARGET
  bri TARGET 0-255      brightness (4 or less switches off)
  hue TARGET 0-65535    colour
  ct TARGET 153-500     colour temperature in mired
  scene SCENE           recall a scene by id or name
  status                the stored bridge, how it is reached and whether it answers
  watch                 print a line for each change at the bridge as it happens
                        (--json: one object per line), until interrupted

What the global shortcuts do:
  all-on                every room and zone on
  all-off [--in 5|30|60]
                        everything off now, or after that many minutes
  brighter | darker     every room and zone a step (the Hotkeys pane's) brighter or darker
  red | blue | white    every room and zone in that colour
  slot 1-5              what the Hotkeys pane set for that hotkey slot
  toggle-panel | show-panel | hide-panel
                        open or close the tray program's panel (needs it running)
While the tray program runs these go through it, so its panel shows them at
once; otherwise they act directly. With --bridge, --user, --trust-fingerprint
or --demo they always act directly (the panel commands excepted).

TARGET is a light or a room/zone, by bridge id or exact name; "light:ID" or
"room:ID" picks one kind when an id is ambiguous. ADDRESS is HOST or HOST:PORT
(an IPv6 host in brackets), with http:// or https:// in front if you like;
https:// means HTTPS only.

Bridges with HTTPS are talked to over HTTPS only: the certificate must come
from the bridge maker's roots built into the program and name the bridge's
id. A bridge that answered securely once is never used over plain HTTP.
First-generation bridges (no HTTPS at all) are used over plain HTTP.

Options:
  --bridge ADDRESS      use this bridge address instead of the stored one
  --user NAME           use this bridge user name instead of the stored one
  --trust-fingerprint SHA256
                        trust the bridge whose certificate has this SHA-256
                        fingerprint (a software bridge with its own certificate);
                        kept for that bridge's id
  --demo                run against a built-in simulated bridge (nothing is stored)
  --json                print records (watch: each change) as JSON
  -h, --help            this text

Exit codes: 0 done, 1 failed (the bridge unreachable, silent, busy, answering
with another status or refusing; or pair could not store the user name, which
it then prints once), 2 usage error.
)";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        Options o = parse(args);
        if (o.help) {
            out << usage();
            return kDone;
        }
        if (o.words.empty()) throw UsageError{"no command given"};
        const std::string& verb = o.words[0];
        static const std::vector<std::string> known{
            "discover", "pair", "lights", "rooms", "scenes",  "on",     "off",
            "bri",      "hue",  "ct",     "scene", "all-off", "status", "watch"};
        if (std::find(known.begin(), known.end(), verb) == known.end() && !isTrayCommand(verb))
            throw UsageError{"unknown command '" + verb + "'"};
        if (o.in && verb != "all-off") throw UsageError{"--in goes with all-off"};
        if (o.json && verb != "lights" && verb != "rooms" && verb != "scenes" && verb != "watch")
            throw UsageError{"--json goes with lights, rooms, scenes and watch"};
        if ((verb == "lights" || verb == "rooms" || verb == "scenes" || verb == "status" ||
             verb == "watch") &&
            o.words.size() > 1)
            throw UsageError{verb + " takes no argument"};

        const bool ownBridge = o.bridge || o.user || o.demo || o.trustFingerprint;
        if (isTrayCommand(verb))
            if (auto rc = viaTray(o.words, o.in, ownBridge, err)) return *rc;

        Session session(o, out, err);
        if (isTrayCommand(verb) && verb != "all-off")
            return session.act([&](BridgeController& c) { actDirectly(o.words, c); });
        if (verb == "pair") return session.pair();
        if (verb == "discover") return session.discover();
        if (verb == "lights" || verb == "rooms" || verb == "scenes") return session.list(verb);
        if (verb == "status") return session.status();
        if (verb == "watch") return session.watch();
        return session.command(o.words);
    } catch (const UsageError& e) {
        err << "lumora-ctl: " << e.message << "\nTry 'lumora-ctl --help'.\n";
        return kUsage;
    } catch (const std::exception& e) {
        err << "lumora-ctl: " << e.what() << "\n";
        return kBridgeFailed;
    }
}

}  // namespace lumora::ctl
