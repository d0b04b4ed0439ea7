// Keeps the COM runtime's registration of every interface that the library
// hands to clients alive for the server's life.
//
// The COM runtime registers an interface with the RPC runtime when the first
// stub of that interface is made in the process and unregisters it when the
// last one goes. Browsers, string enumerators, connection point enumerators
// and whole client objects come and go all the time, so under load an
// interface's count falls to zero on one thread (the release of the last
// stub) while other threads marshal new objects of it. Under Wine the
// unregistration waits for the interface's calls to end while holding the
// lock that every new registration needs, and a call that is marshalling
// its result waits for that lock: the whole server hangs. One stub of each
// interface, made at start-up from marshal data that never leaves the
// process, keeps each count above zero, so no registration is ever undone
// while the server runs.
#pragma once

namespace zq {

// Made once, at start-up (in the thread's apartment); failures are ignored
// (an interface whose proxy/stub is not registered cannot be marshalled to
// clients anyway).
void AnchorInterfaceRegistrations();
// Gives the stubs up again (module unload while the process goes on).
void ReleaseInterfaceAnchors();
// How many interfaces are anchored.
int AnchoredInterfaces();

} // namespace zq
