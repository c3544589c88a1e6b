#pragma once
// Trusting the service's own certificate (the configured --ca-cert, for a service with a
// self-signed certificate such as the stand-in) once per process, on whichever thread
// first needs it.
//
// Loading it loads the TLS library and the system's certificates, which would take a
// noticeable share of start-up (time and memory); so nothing does it on the way to the
// window. Every HTTPS request of the service client calls trustServiceCertificateOnce()
// first, on its background thread: it does the work the first time, returns at once
// later, and waits while another thread is doing it.
//
// Thread-safe (std::call_once).

namespace sondrel {

// Trusts serviceConfig().caCertificate (nothing when it is empty). Later calls do nothing.
void trustServiceCertificateOnce();

} // namespace sondrel
