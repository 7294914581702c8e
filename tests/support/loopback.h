#pragma once
// The loopback addresses of the end-to-end tests' servers, all in one place. A deployment always
// connects to port 21, so every server a test starts needs an address of its own: no two test
// cases that may run at once (ctest -j) share one. Ranges kept for others: 127.0.0.1 (servers on
// any port), .2 (scripts/ftp-demo-server.sh), .150-.157 (the FTP client's hostile-server tests),
// .220-.227 (the test_servers fixture of tests/CMakeLists.txt, one pair per preset), .50 and .51
// (the TLS servers fixture of tests/net/CMakeLists.txt, one per Windows architecture).
namespace skelder::test::loopback {

// e2e_deploy_ftp_e2e
inline constexpr char kFtpE2ePyFtpd[] = "127.0.0.21";
inline constexpr char kFtpE2eVsftpd[] = "127.0.0.22";
inline constexpr char kOtherPort[] = "127.0.0.198";
inline constexpr char kPassive[] = "127.0.0.199";

// e2e_deploy_ftps_e2e (the TLS tests' certificates name 127.0.0.40 to .49)
inline constexpr char kFtpsPyFtpd[] = "127.0.0.43";
inline constexpr char kFtpsVsftpd[] = "127.0.0.44";
inline constexpr char kFtpsCertificates[] = "127.0.0.45";
inline constexpr char kFtpsAuthRefused[] = "127.0.0.46";

// e2e_deploy_ftp_faults
inline constexpr char kRefusedLogIn[] = "127.0.0.31";
inline constexpr char kPasswordNeverShows[] = "127.0.0.32";
inline constexpr char kUploadRefused[] = "127.0.0.33";
inline constexpr char kCancelWhileTransferring[] = "127.0.0.34";
inline constexpr char kServerStopsAnswering[] = "127.0.0.35";
inline constexpr char kFolderThenFtp[] = "127.0.0.36";
inline constexpr char kSecondFtpLocation[] = "127.0.0.37";
inline constexpr char kAtSignInPassword[] = "127.0.0.38";
inline constexpr char kRecordFetchDropped[] = "127.0.0.192";
inline constexpr char kRecordTooLarge[] = "127.0.0.196";

// e2e_deploy_ftp_hostile_ardmoor
inline constexpr char kEndlessGreeting[] = "127.0.0.153";
inline constexpr char kHostileMidRunBlankLines[] = "127.0.0.154";
inline constexpr char kHostileMidRunEndlessReply[] = "127.0.0.155";
inline constexpr char kGreetingBaseline[] = "127.0.0.156";
inline constexpr char kMidRunBaseline[] = "127.0.0.157";

// e2e_deploy_folder_integrity
inline constexpr char kLetterCaseTwins[] = "127.0.0.170";

// e2e_deploy_names_e2e
inline constexpr char kExactNames[] = "127.0.0.190";
inline constexpr char kUpperCaseScheme[] = "127.0.0.191";
inline constexpr char kMissingAfterCheckOut[] = "127.0.0.194";
inline constexpr char kControlCharacters[] = "127.0.0.195";

// e2e_deploy_folder_ardmoor
inline constexpr char kTerminalCancel[] = "127.0.0.197";

// e2e_deploy_ftp_trace (ftp_net_ftp_trace's scripted server: 127.0.0.70, any port)
inline constexpr char kTraceActive[] = "127.0.0.71";
inline constexpr char kTracePassive[] = "127.0.0.72";
inline constexpr char kTraceNotOpened[] = "127.0.0.73";
inline constexpr char kTraceUnset[] = "127.0.0.74";
inline constexpr char kTraceArdmoor[] = "127.0.0.75";
inline constexpr char kTraceUnload[] = "127.0.0.76";
inline constexpr char kTraceParallel[] = "127.0.0.77";

// e2e_deploy_ftp_parallel (127.0.0.60 to .69)
inline constexpr char kParallelPyFtpd[] = "127.0.0.60";
inline constexpr char kParallelVsftpd[] = "127.0.0.61";
inline constexpr char kParallelRefused[] = "127.0.0.62";
inline constexpr char kParallelReset[] = "127.0.0.63";
inline constexpr char kParallelCancel[] = "127.0.0.64";
inline constexpr char kParallelFewerSessions[] = "127.0.0.65";

// e2e_deploy_generated_e2e
inline constexpr char kGeneratedTrees[] = "127.0.0.193";

}  // namespace skelder::test::loopback
