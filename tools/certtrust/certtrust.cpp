// certtrust <certificate file>: adds the certificate (DER, or PEM with its BEGIN/END lines) to
// the system's "ROOT" store, that is, the trusted authorities of the Windows installation it
// runs in. Under Wine that is the prefix's own store; the machine's trust store is untouched.
// Exit code 0 when the certificate is in the store afterwards (also when it already was).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadWholeFile(const char* path, std::string& contents) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char buffer[4096];
  std::size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, read);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

// PEM text becomes its DER bytes; anything else is taken as DER already.
std::vector<BYTE> CertificateBytes(const std::string& contents) {
  if (contents.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return std::vector<BYTE>(contents.begin(), contents.end());
  DWORD size = 0;
  if (!CryptStringToBinaryA(contents.c_str(), static_cast<DWORD>(contents.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
    return {};
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(contents.c_str(), static_cast<DWORD>(contents.size()),
                            CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
    return {};
  der.resize(size);
  return der;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: certtrust <certificate.pem|certificate.der>\n");
    return 2;
  }
  std::string contents;
  if (!ReadWholeFile(argv[1], contents)) {
    std::fprintf(stderr, "certtrust: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<BYTE> der = CertificateBytes(contents);
  if (der.empty()) {
    std::fprintf(stderr, "certtrust: %s holds no certificate\n", argv[1]);
    return 1;
  }
  const DWORD size = static_cast<DWORD>(der.size());
  if (!CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(), size)) {
    std::fprintf(stderr, "certtrust: adding to ROOT failed, error %lu\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("certtrust: %s added to ROOT\n", argv[1]);
  return 0;
}
