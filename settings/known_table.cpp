// The table of the known settings. Its defaults are the ones the readers pass (tests/docs holds
// the two in step); its texts are the guide's.
#include "settings/known.h"

namespace tollan {

namespace {

using S = SettingForm;

constexpr const char* kStart = "start-up";
constexpr const char* kRequest = "each request";
constexpr const char* kTransfer = "each transfer";
constexpr const char* kReceipt = "each receipt";
constexpr const char* kDial = "each dial";

constexpr KnownSetting kKnown[] = {
    {"Port", S::Number, 1, 65535, nullptr, "1280", nullptr, kStart, "TCP port on which cash registers connect", false},
    {"ListenAddress", S::Ip, 0, 0, nullptr, "", "(empty): every interface", kStart,
     "the address on which cash registers connect, such as the shop network's own; with both it and \"AllowFrom\" "
     "empty the package's service (`--service`) listens on the loopback alone (127.0.0.1 and ::1)", false},
    {"ParallelRequests", S::Number, 1, 32, nullptr, "1", nullptr, kStart,
     "how many requests of the registers and the operator run at once: at 1 one request at a time as ever; raise it "
     "only where the card centre over TCP takes several connections at once (ask the acquirer); see \"A whole shop at "
     "once\"", false},
    {"AllowFrom", S::Networks, 0, 0, nullptr, "", "(empty): anyone", "each connection; start-up",
     "addresses and networks (CIDR) from which registers may connect, separated by `;`, IPv4 and IPv6 "
     "(`192.168.1.0/24;10.0.0.7;fd00::/8`; an IPv4 rule also matches the IPv4-mapped IPv6 form); a connection from "
     "elsewhere is closed unread and logged (table `Log`, object `WSTJlistener`): the first from an address at once, "
     "the rest of that minute as one row with their count when the minute is over, so a register in a connect loop "
     "writes one row a minute; an entry that is no address or network lets nobody in (and is refused when set); the "
     "service reads it at start-up to choose between the loopback and every interface", false},
    {"UseX25", S::Flag, 0, 0, nullptr, "0", nullptr, kRequest,
     "not 0: the card centre is reached over X.25 through the modem, else over TCP", false},
    {"UseRAS", S::Flag, 0, 0, nullptr, "0", nullptr, "start-up; each request",
     "not 0: bring a dial-up connection up before a TCP connection to the card centre", false},
    {"Tollan_Auth_Address", S::Address, 0, 0, nullptr, "", nullptr, kRequest,
     "`host:port` of the card centre's authorisation service; needed unless \"UseX25\" is set", false},
    {"Tollan_Trans_Address", S::Address, 0, 0, nullptr, "", nullptr, kTransfer,
     "`host:port` of the card centre's service for transaction files; needed unless \"UseX25\" is set", false},
    {"UseTLS", S::Flag, 0, 0, nullptr, "0", nullptr, kRequest,
     "not 0: both card-centre services are reached over TLS (1.2 or newer, the card centre's certificate verified; "
     "see Connecting to a card centre)", false},
    {"TLS\\CAFile", S::File, 0, 0, nullptr, "", "(empty): the system's store", kRequest,
     "PEM file of the certificate authorities trusted to sign the card centre's certificate", false},
    {"TLS\\CertFile", S::File, 0, 0, nullptr, "", "(empty): none", kRequest,
     "the terminal's client certificate (PEM, its chain after it), for a card centre that asks for one", false},
    {"TLS\\KeyFile", S::File, 0, 0, nullptr, "", "(empty): none", kRequest,
     "the key of `TLS\\CertFile` (PEM, no pass phrase), read with the terminal's rights; it must be mode 0600: a key "
     "file that group or others may open is refused, and the connection with it", false},
    {"TLS\\PeerName", S::Text, 0, 0, nullptr, "", "(empty): the host of the address", kRequest,
     "the name the card centre's certificate must carry", false},
    {"TLS\\Pin", S::Pins, 0, 0, nullptr, "", "(empty): none", kRequest,
     "pins of the card centre's key, separated by `;` (several while it changes keys), each base64 of the SHA-256 of "
     "a public key's DER SubjectPublicKeyInfo, of any kind of key (`openssl x509 -in centre.pem -pubkey -noout | "
     "openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64`): a certificate whose key has none of "
     "them is refused even when a trusted authority signed it", false},
    {"TimeOut\\Connect", S::Number, 1, 3600, nullptr, "60", "`60`; `30` for the modem's answer to dialling", kRequest,
     "seconds allowed for connecting (never written back, so each default holds until the setting is set)", false},
    {"TimeOut\\Auth", S::Number, 1, 3600, nullptr, "60", nullptr, kRequest,
     "seconds to wait for the answer to the repeated request (the first is waited for 15 seconds)", false},
    {"Timeout\\Workstation", S::Number, 1, 3600, nullptr, "120", nullptr, kRequest,
     "seconds to wait for a register's answer to a prompt or print request", false},
    {"AllowManualPAN", S::Flag, 0, 0, nullptr, "-1", nullptr, kRequest,
     "0: a card number keyed in rather than read from the card is refused", false},
    {"Debug", S::Flag, 0, 0, nullptr, "0", nullptr, kRequest,
     "not 0: the authorisation traffic is written to debug.log", false},
    {"SendTransTime<n>", S::Mask, 0, 0, nullptr, "", nullptr, "start-up; when the dialog saves",
     "time masks (`year month day hour minute`, optionally a day of week 1 to 7, `*` for any: `* * * 22 30` is 22:30 "
     "daily, `* * * 8 0 1` 08:00 on Mondays) at which the transaction file is sent; n = 1, 2, … up to the first "
     "empty one", false},
    {"NextNumber", S::Number, 0, 999999, nullptr, "1", nullptr, kRequest,
     "the last STAN used; advanced before each purchase and cancellation", false},
    {"NextTransFileNr", S::Number, 1, 999999, nullptr, "1", nullptr, kTransfer,
     "the number of the next transaction file", false},
    {"LastSent_TransFile", S::Date, 0, 0, nullptr, "1000101", nullptr, "start-up; each transfer",
     "the date (yyyymmdd) of the last file the card centre accepted, shown on the window", false},
    {"ProtsKood", S::Digits, 6, 6, nullptr, "000580", nullptr, kRequest, "processing code of the requests", false},
    {"AutoriseerijaID", S::Text, 0, 0, nullptr, "", nullptr, kRequest, "the authoriser's identity", false},
    {"EdastajaID", S::Text, 0, 0, nullptr, "", nullptr, kRequest, "the forwarding institution's identity", false},
    {"TerminaliTunnus", S::Text, 0, 0, nullptr, "", nullptr, kRequest, "the terminal's identity at the card centre",
     false},
    {"Valuutakood", S::Digits, 3, 3, nullptr, "233", nullptr, kRequest, "currency code", false},
    {"ReceiverID", S::Text, 0, 0, nullptr, "KK", nullptr, kTransfer, "the receiver's identity in the transaction file",
     false},
    {"SenderID\\<prefix>", S::Text, 0, 0, nullptr, "", nullptr, kTransfer,
     "the sender's identity for cards beginning with the prefix, in the transaction file", false},
    {"Tegevusala", S::Digits, 4, 4, nullptr, "0000", nullptr, "each request; each transfer",
     "merchant activity code (MCC): element 18 of the requests and columns 61–64 of the transaction file's group "
     "header, the register's own in both; names ignore case, so `TegevusAla` is this same setting", true},
    {"FirmaTunnus", S::Text, 0, 0, nullptr, "", nullptr, "each request; each transfer", "merchant identity", true},
    {"FirmaNimi", S::Text, 0, 0, nullptr, "", nullptr, "each receipt; each transfer",
     "merchant name, on receipts and in the file", false},
    {"FirmaTänav", S::Text, 0, 0, nullptr, "", nullptr, kReceipt, "merchant street address, on receipts", false},
    {"FirmaLinn", S::Text, 0, 0, nullptr, "", nullptr, kReceipt, "merchant town, on receipts", false},
    {"FirmaPostiindeks", S::Text, 0, 0, nullptr, "", nullptr, kReceipt,
     "merchant postal code, for receipt templates (`{Zip}`)", false},
    {"FirmaRegNr", S::Text, 0, 0, nullptr, "", nullptr, kReceipt, "merchant registration number", false},
    {"FirmaLokaator", S::Text, 0, 0, nullptr, "", nullptr, kReceipt, "merchant location text", false},
    {"CardType\\<prefix>", S::Text, 0, 0, nullptr, "", nullptr, kReceipt,
     "the card type's name on receipts, for card numbers beginning with those six digits", false},
    {"PrintSuccess", S::Text, 0, 0, nullptr, "", "(empty): the built-in receipt", kReceipt,
     "receipt template of a purchase", true},
    {"PrintReversal", S::Text, 0, 0, nullptr, "", "(empty): the built-in receipt", kReceipt,
     "receipt template of a cancellation", true},
    {"X25\\Number", S::Text, 0, 0, nullptr, "", nullptr, kDial, "telephone number the modem dials", false},
    {"X25\\Auth_Address", S::Text, 0, 0, nullptr, "", nullptr, kRequest,
     "X.25 address of the authorisation service; needed when \"UseX25\" is set", false},
    {"X25\\Trans_Address", S::Text, 0, 0, nullptr, "", nullptr, kTransfer,
     "X.25 address of the transaction-file service; needed when \"UseX25\" is set", false},
    {"X25\\Username", S::Text, 0, 0, nullptr, "", nullptr, kDial, "X.25 network user identity", false},
    {"X25\\Password", S::Text, 0, 0, nullptr, "", nullptr, kDial, "its password", false},
    {"X25\\CommPort", S::CommPort, 0, 0, nullptr, "1", nullptr, kStart,
     "the modem's serial port: n (1 to 255) is `/dev/ttyS(n-1)`, or a device path", false},
    {"X25\\Settings", S::Line, 0, 0, nullptr, "9600,n,8,1", nullptr, kStart,
     "speed, parity (n, e, o, m, s), data bits (5 to 8), stop bits (1, 1.5, 2)", false},
    {"X25\\Handshaking", S::Number, 0, 3, nullptr, "2", nullptr, kStart,
     "flow control: 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both", false},
    {"X25\\ModemInit", S::Text, 0, 0, nullptr, "atz", nullptr, kDial, "modem reset command", false},
    {"X25\\ModemSettings", S::Text, 0, 0, nullptr, "ATM0E0", nullptr, kDial, "modem set-up command", false},
    {"X25\\TestConnection", S::Text, 0, 0, nullptr, "", nullptr, kDial, "text sent to the PAD to test the line", false},
    {"RAS\\Backend", S::Choice, 0, 0, "pppd|nmcli|script", "pppd", nullptr, kDial,
     "dial-up service (see Dial-up networking)", false},
    {"RAS\\Connectoid", S::Text, 0, 0, nullptr, "tollan", nullptr, kDial,
     "the dial-up entry: pppd peer or NetworkManager connection", false},
    {"RAS\\Number", S::Text, 0, 0, nullptr, "", nullptr, kDial, "telephone number; empty: the entry's own", false},
    {"RAS\\UserName", S::Text, 0, 0, nullptr, "", nullptr, kDial, "dial-up user name", false},
    {"RAS\\Password", S::Text, 0, 0, nullptr, "", nullptr, kDial, "dial-up password", false},
    {"RAS\\Domain", S::Text, 0, 0, nullptr, "", nullptr, kDial, "dial-up domain", false},
    {"RAS\\KeepActive", S::Number, 0, 86400, nullptr, "10", nullptr, kDial,
     "seconds a dial-up connection may be idle before it is hung up", false},
    {"RAS\\DialTimeout", S::Number, 1, 3600, nullptr, "60", nullptr, kDial, "seconds a dial may take", false},
    {"RAS\\Script", S::Text, 0, 0, nullptr, "", nullptr, kDial,
     "what the `script` backend does, for tests and demos (`Up=0;DialCode=0`)", false},
    {"Console\\Trans", S::Hex, 0, 0, nullptr, "0", nullptr, kRequest,
     "the last transaction number of the operator's own transactions, hexadecimal", false},
    {"Console\\Toojaam", S::Text, 0, 0, nullptr, "", nullptr, kRequest,
     "the workstation name of the operator's own transactions", false},
    {"fMain.Left", S::Number, -1000000, 1000000, nullptr, "300", nullptr, "start-up; written at shutdown",
     "the window's left edge in twips", false},
    {"fMain.Top", S::Number, -1000000, 1000000, nullptr, "", "the screen's height less the window's and 300",
     "start-up; written at shutdown", "the window's top edge in twips", false},
};

} // namespace

std::span<const KnownSetting> Settings_Known() { return kKnown; }

} // namespace tollan
