// Where the operator's services are: the build's base addresses and CA bundle, replaceable
// by tests that serve HTTPS in their own process.
#pragma once

#include <string>

// Base address (scheme, host, optional port; no final "/") of the production or test services.
std::string ServiceBaseUrl(bool Test);
// Extra CA bundle to trust; empty: the system trust store.
std::string ServiceCaFile();

// Test seam: replaces the base addresses and the CA bundle; empty texts restore the build's.
void SetServiceOverrides(const std::string& ProductionUrl, const std::string& TestUrl, const std::string& CaFile);
