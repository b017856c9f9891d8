// A session manager for the end-to-end tests, speaking X11's session protocol
// (XSMP) as a desktop's does, to one client at a time.
//
//   session_manager ADDRESS_FILE < COMMANDS
//
// Writes the address for SESSION_MANAGER to ADDRESS_FILE, then reads one
// command per line and prints one line when it is done:
//   save      a session save, nothing ends       -> "saved"
//   cancel    a log-off that is then cancelled   -> "cancelled"
//   logoff    a log-off that goes through        -> "gone"
// Each waits first for a client to register; "logoff" waits for it to leave.
#include <X11/SM/SMlib.h>
// after SMlib.h, which it needs
#include <X11/ICE/ICEutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Client {
    SmsConn conn = nullptr;
    IceConn ice = nullptr;
    bool registered = false;
    bool saveDone = false;
    bool gone = false;
};

Client client;
std::vector<IceListenObj> listeners;

// libICE's own switch, as desktop session managers use it: no TCP listener.
extern "C" int _IceTransNoListen(const char* protocol);

// Clients on the local socket only; nothing comes in over a network.
Bool AcceptLocalClients(char* hostname) {
    return hostname && std::strncmp(hostname, "local/", 6) == 0 ? True : False;
}

Status RegisterClient(SmsConn conn, SmPointer, char* previousId) {
    std::free(previousId);
    char* id = SmsGenerateClientID(conn);
    SmsRegisterClientReply(conn, id ? id : const_cast<char*>("varnel-test"));
    std::free(id);
    client.registered = true;
    return 1;
}

void InteractRequest(SmsConn conn, SmPointer, int) {
    SmsInteract(conn);
}
void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void SaveYourselfPhase2Request(SmsConn conn, SmPointer) {
    SmsSaveYourselfPhase2(conn);
}
void SaveYourselfDone(SmsConn, SmPointer, Bool) {
    client.saveDone = true;
}
// The client has left, by saying so or by its connection breaking.
void Forget(IceConn ice) {
    if (client.conn)
        SmsCleanUp(client.conn);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    client = Client{};
    client.gone = true;
}
void CloseConnection(SmsConn conn, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    Forget(SmsGetIceConnection(conn));
}
void SetProperties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(props[i]);
    std::free(props);
}
void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}
void GetProperties(SmsConn conn, SmPointer) {
    SmsReturnProperties(conn, 0, nullptr);
}

Status NewClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    client.conn = conn;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client.callback = RegisterClient;
    callbacks->interact_request.callback = InteractRequest;
    callbacks->interact_done.callback = InteractDone;
    callbacks->save_yourself_request.callback = SaveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = SaveYourselfPhase2Request;
    callbacks->save_yourself_done.callback = SaveYourselfDone;
    callbacks->close_connection.callback = CloseConnection;
    callbacks->set_properties.callback = SetProperties;
    callbacks->delete_properties.callback = DeleteProperties;
    callbacks->get_properties.callback = GetProperties;
    return 1;
}

// Commands read so far, and whether their input has ended.
std::string input;
bool inputEnded = false;

// Handles what arrives within `ms` milliseconds, and reads commands too when
// asked to.
void Pump(int ms, bool readCommands = false) {
    std::vector<pollfd> fds;
    for (IceListenObj l : listeners)
        fds.push_back({IceGetListenConnectionNumber(l), POLLIN, 0});
    IceConn ice = client.ice;
    if (ice)
        fds.push_back({IceConnectionNumber(ice), POLLIN, 0});
    if (readCommands)
        fds.push_back({0, POLLIN, 0});
    if (poll(fds.data(), fds.size(), ms) <= 0)
        return;
    for (size_t i = 0; i < listeners.size(); ++i) {
        if (!(fds[i].revents & POLLIN))
            continue;
        IceAcceptStatus status;
        IceConn accepted = IceAcceptConnection(listeners[i], &status);
        if (!accepted)
            continue;
        while (IceConnectionStatus(accepted) == IceConnectPending)
            IceProcessMessages(accepted, nullptr, nullptr);
        if (IceConnectionStatus(accepted) == IceConnectAccepted)
            client.ice = accepted;
        else
            IceCloseConnection(accepted);
    }
    if (ice && fds[listeners.size()].revents &&
        IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError)
        Forget(ice);
    if (readCommands && fds.back().revents) {
        char buffer[256];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n > 0)
            input.append(buffer, n);
        else
            inputEnded = true;
    }
}

// Pumps until `done` holds, for at most 20 seconds.
template <typename F> bool Until(F done) {
    for (int i = 0; i < 200 && !done(); ++i)
        Pump(100);
    return done();
}

bool Save(Bool shutdown) {
    client.saveDone = false;
    SmsSaveYourself(client.conn, SmSaveBoth, shutdown, SmInteractStyleAny, False);
    return Until([] { return client.saveDone || client.gone; }) && client.saveDone;
}

bool NextCommand(std::string& command) {
    for (;;) {
        const size_t end = input.find('\n');
        if (end != std::string::npos) {
            command = input.substr(0, end);
            input.erase(0, end + 1);
            return true;
        }
        if (inputEnded)
            return false;
        Pump(50, true);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_manager ADDRESS_FILE < COMMANDS\n");
        return 2;
    }
    char error[256] = {};
    _IceTransNoListen("tcp");
    if (!SmsInitialize("varnel-test", "1", NewClient, nullptr, AcceptLocalClients, sizeof error,
                       error)) {
        std::fprintf(stderr, "session_manager: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj* objs = nullptr;
    if (!IceListenForConnections(&count, &objs, sizeof error, error)) {
        std::fprintf(stderr, "session_manager: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        IceSetHostBasedAuthProc(objs[i], AcceptLocalClients);
        listeners.push_back(objs[i]);
    }
    char* address = IceComposeNetworkIdList(count, objs);
    if (FILE* f = std::fopen(argv[1], "w")) {
        std::fprintf(f, "%s\n", address);
        std::fclose(f);
    }
    std::free(address);

    std::string command;
    while (NextCommand(command)) {
        client.gone = false;
        if (!Until([] { return client.registered; })) {
            std::cout << "no client" << std::endl;
            continue;
        }
        bool ok = false;
        if (command == "save") {
            ok = Save(False);
            std::cout << (ok ? "saved" : "not saved") << std::endl;
        } else if (command == "cancel") {
            ok = Save(True);
            if (ok)
                SmsShutdownCancelled(client.conn);
            Pump(200);
            std::cout << (ok ? "cancelled" : "not cancelled") << std::endl;
        } else if (command == "logoff") {
            ok = Save(True);
            if (ok)
                SmsDie(client.conn);
            ok = ok && Until([] { return client.gone; });
            std::cout << (ok ? "gone" : "still there") << std::endl;
        } else {
            std::cout << "unknown command" << std::endl;
        }
    }
    return 0;
}
