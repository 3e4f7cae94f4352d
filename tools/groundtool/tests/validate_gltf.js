// Checks one .glb with the Khronos glTF validator and prints its counts as
// "errors N warnings N infos N", then each error; exits 0 only when there are no errors.
// Usage: node validate_gltf.js VALIDATOR_FOLDER FILE.glb (the folder holds node_modules/).
'use strict';
const fs = require('fs');
const path = require('path');

const [validatorFolder, file] = process.argv.slice(2);
const validator = require(path.join(validatorFolder, 'node_modules', 'gltf-validator'));

validator
  .validateBytes(new Uint8Array(fs.readFileSync(file)), {maxIssues: 100})
  .then((report) => {
    const issues = report.issues;
    console.log(`errors ${issues.numErrors} warnings ${issues.numWarnings} infos ${issues.numInfos}`);
    for (const message of issues.messages) {
      console.log(`${message.severity === 0 ? 'error' : 'note'} ${message.code} ${message.pointer || ''}: ${message.message}`);
    }
    process.exit(issues.numErrors === 0 ? 0 : 1);
  })
  .catch((error) => {
    console.log(`cannot validate ${file}: ${error}`);
    process.exit(2);
  });
