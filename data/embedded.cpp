// Anchors the data library so that it exists before any file is embedded.
namespace kiv_data {
int EmbeddedAnchor = 0;
}
