#pragma once
// Values the known settings refuse, each with the start of its reason in English (the command
// line, stderr) and Estonian (the window, tollan.err), and the settings dialog's field that edits
// it (nullptr where the dialog has none). `config set`, the dialog and the start-up check all
// refuse every one.

namespace tollan::test {

struct WrongSetting {
    const char* key;
    const char* value;
    const char* english;   // part of the reason
    const char* estonian;  // part of the reason, UTF-8
    const char* field;     // the dialog's field, or nullptr
    int index = -1;        // the field's index among those of its name (the send times)
};

inline constexpr WrongSetting kWrongSettings[] = {
    {"Port", "abc", "not a whole number", "ei ole täisarv", "tPort"},
    {"Port", "0", "outside 1 to 65535", "ei ole vahemikus 1–65535", "tPort"},
    {"Port", "70000", "outside 1 to 65535", "ei ole vahemikus 1–65535", "tPort"},
    {"TimeOut\\Auth", "6o", "not a whole number", "ei ole täisarv", "tTOauth"},
    {"AllowFrom", "10.0.0.1,10.0.0.2", "no address or network, so it lets nobody in: 10.0.0.1,10.0.0.2",
     "kirjed, mis ei ole aadress ega võrk, ei lase kedagi sisse: 10.0.0.1,10.0.0.2", "tAllowFrom"},
    {"Tollan_Auth_Address", "kaardikeskus", "not of the form host:port", "ei ole kujul host:port", "tAddrTCPauth"},
    {"Tollan_Trans_Address", "10.0.0.5:99999", "the port is not 1 to 65535", "port ei ole vahemikus 1–65535", "tAddrTCPfile"},
    {"SendTransTime1", "22:30", "not a time mask", "ei ole saatmisaeg", "tSideAjad", 1},
    {"TLS\\CAFile", "/nonexistent/ca.pem", "no such file", "faili ei ole", "tTLSCAFile"},
    {"TLS\\Pin", "abc", "\"abc\" is no pin", "\"abc\" ei ole võtme SHA-256", "tTLSPin"},
    {"ListenAddress", "kassade-võrk", "not an IP address", "ei ole IP-aadress", "tListenAddress"},
    {"ParallelRequests", "64", "outside 1 to 32", "ei ole vahemikus 1–32", nullptr},
    {"X25\\Settings", "9600,x,8,1", "not speed,parity,data bits,stop bits", "ei ole kujul kiirus,paarsus", nullptr},
    {"RAS\\Backend", "modem", "not one of pppd, nmcli, script", "ei ole üks neist", nullptr},
    {"Tegevusala", "58a2", "not 4 digits", "ei ole 4 numbrit", "tFirmaMCC"},
};

} // namespace tollan::test
