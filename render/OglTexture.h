// The GL textures of a user's model: each image decoded once, uploaded with its mipmaps and freed;
// one sampler for each pair of wrap modes.
//
// Ownership: the GL names are this object's; release() deletes them (the mesh does, on replacing
// its model), the rest end with the context at exit.
#pragma once

#include <GL/glew.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "render/MeshParts.h"

struct aiScene;

class OglTextures {
public:
    // Gives every part with texture coordinates the texture and sampler of its material's image.
    // An image that cannot be used is said once, on one line, and its parts draw without it.
    void attach(std::vector<OglMeshPart>& parts, const aiScene& scene, const std::string& modelFolder);
    void release();

private:
    std::map<std::string, GLuint> images_;  // by where the image is; 0: it could not be used
    std::map<std::pair<GLint, GLint>, GLuint> samplers_;
};
