// Fuzzes the version order with its laws. The input is three versions separated by NUL bytes
// (UTF-8; what is missing is empty). The comparison answers -1, 0 or 1 and is reflexive,
// antisymmetric and transitive, and versions it finds equal compare alike with every other.

#include "FuzzSupport.h"

#include "services/AppcastFeed.h"

#include <array>

using namespace quillby;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::array<QString, 3> v;
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> pieces = bytes.split('\0');
    for (std::size_t i = 0; i < v.size() && i < static_cast<std::size_t>(pieces.size()); ++i) {
        v[i] = QString::fromUtf8(pieces[static_cast<qsizetype>(i)]);
    }
    // Every comparison once; the laws are checked on the table.
    int order[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            order[i][j] = appcast::compareVersions(v[i], v[j]);
            FUZZ_CHECK(order[i][j] == -1 || order[i][j] == 0 || order[i][j] == 1);
        }
    }
    for (int a = 0; a < 3; ++a) {
        FUZZ_CHECK(order[a][a] == 0);
        for (int b = 0; b < 3; ++b) {
            FUZZ_CHECK(order[a][b] == -order[b][a]);
            for (int c = 0; c < 3; ++c) {
                if (order[a][b] <= 0 && order[b][c] <= 0) {
                    FUZZ_CHECK(order[a][c] <= 0);
                }
                if (order[a][b] < 0 && order[b][c] <= 0) {
                    FUZZ_CHECK(order[a][c] < 0);
                }
                if (order[a][b] == 0) {
                    FUZZ_CHECK(order[a][c] == order[b][c]);
                }
            }
        }
    }
    return 0;
}
